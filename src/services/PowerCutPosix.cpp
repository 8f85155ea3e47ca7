#include "services/PowerCutPosix.h"

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "services/FileSystem.h"
#include "services/UniqueHandle.h"

namespace qorv {

namespace {

// A test's power cut (CutPowerAfter): the changes still allowed, and the
// files written since their last flush, by inode with the path each has.
struct PowerWatch {
    std::mutex lock;
    bool watching = false;
    uint64_t changesLeft = UINT64_MAX;
    std::map<std::pair<dev_t, ino_t>, std::string> unflushed;
};

PowerWatch& Power() {
    static PowerWatch watch;
    return watch;
}

}  // namespace

// True when a change may be made; false, the change unmade, once the power
// is cut.
bool Change() {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    if (power.changesLeft == 0) return false;
    if (power.changesLeft != UINT64_MAX) --power.changesLeft;
    return true;
}

// The file open as descriptor holds bytes not yet flushed, or (written
// false) holds none any more.
void NoteBytes(int descriptor, bool written) {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    struct stat status;
    if (!power.watching || fstat(descriptor, &status) != 0) return;
    const std::pair<dev_t, ino_t> key(status.st_dev, status.st_ino);
    if (written) {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
        char path[PATH_MAX];
        const ssize_t size = readlink(link, path, sizeof path - 1);
        if (size > 0) power.unflushed[key].assign(path, static_cast<size_t>(size));
    } else {
        power.unflushed.erase(key);
    }
}

// Flushes the file open as descriptor. While a test watches for a power cut
// the flush is only noted: the cut is simulated, not the disk's.
int FlushDescriptor(int descriptor) {
    {
        PowerWatch& power = Power();
        const std::lock_guard<std::mutex> hold(power.lock);
        if (!power.watching) return fsync(descriptor);
    }
    NoteBytes(descriptor, false);
    return 0;
}

// A noted file moved to path is known there from now on.
void NoteMove(const std::string& path) {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    struct stat status;
    if (!power.watching || stat(path.c_str(), &status) != 0) return;
    const auto file = power.unflushed.find(std::make_pair(status.st_dev, status.st_ino));
    char resolved[PATH_MAX];
    if (file != power.unflushed.end() && realpath(path.c_str(), resolved) != nullptr) {
        file->second = resolved;
    }
}

void CutPowerAfter(uint64_t changes) {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    power.watching = true;
    power.changesLeft = changes;
}

bool HasPower() {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    return power.changesLeft != 0;
}

bool RestorePower() {
    PowerWatch& power = Power();
    const std::lock_guard<std::mutex> hold(power.lock);
    bool zeroed = true;
    for (const auto& file : power.unflushed) {
        const FileDescriptor descriptor(open(file.second.c_str(), O_WRONLY | O_CLOEXEC));
        struct stat status;
        // A file deleted or replaced since is not the one written.
        if (descriptor.IsValid() && fstat(descriptor.Get(), &status) == 0 &&
            status.st_dev == file.first.first && status.st_ino == file.first.second) {
            const timespec times[2] = {status.st_atim, status.st_mtim};
            zeroed = zeroed && ftruncate(descriptor.Get(), 0) == 0 &&
                     ftruncate(descriptor.Get(), status.st_size) == 0 &&
                     futimens(descriptor.Get(), times) == 0;
        }
    }
    power.unflushed.clear();
    power.watching = false;
    power.changesLeft = UINT64_MAX;
    return zeroed;
}

}  // namespace qorv
