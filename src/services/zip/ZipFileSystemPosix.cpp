#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "services/Utf16.h"
#include "services/zip/ZipFileSystem.h"
#include "services/zip/ZipTimes.h"

namespace {

// The native path: UTF-8, with the archive's "\" separators made "/".
std::string NativePath(const wchar_t* path) {
    std::string native = qorv::Utf16ToUtf8(path, wcslen(path));
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

timespec ToTimespec(const FILETIME& time) {
    timespec result;
    const uint64_t value = ZipFileTimeToUint64(time);
    if (value == 0) {
        result.tv_sec = 0;
        result.tv_nsec = UTIME_OMIT;
        return result;
    }
    const int64_t sinceEpoch = static_cast<int64_t>(value) - kZipUnixEpochFileTime;
    int64_t seconds = sinceEpoch / 10000000;
    int64_t rest = sinceEpoch % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_nsec = static_cast<long>(rest * 100);
    return result;
}

}  // namespace

bool ZipGetCurrentDirectory(wchar_t* buffer, int capacity) {
    char native[PATH_MAX];
    if (getcwd(native, sizeof(native)) == nullptr) return false;
    const std::wstring wide = qorv::Utf8ToUtf16(native, strlen(native));
    if (wide.size() >= static_cast<size_t>(capacity)) return false;
    wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return true;
}

bool ZipPathExists(const wchar_t* path) {
    struct stat status;
    return stat(NativePath(path).c_str(), &status) == 0;
}

void ZipCreateDirectory(const wchar_t* path) {
    mkdir(NativePath(path).c_str(), 0777);
}

ZipTargetFile::~ZipTargetFile() {
    if (descriptor_ >= 0) close(descriptor_);
}

bool ZipTargetFile::Create(const wchar_t* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    // A read-only file is not replaced, whoever runs the extraction (the
    // owner's write bit stands for the read-only attribute).
    struct stat existing;
    if (stat(native.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        (existing.st_mode & S_IWUSR) == 0) {
        return false;
    }
    const bool readOnly = (attributes & 0x01) != 0;
    descriptor_ =
        open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, readOnly ? 0444 : 0666);
    if (descriptor_ < 0) return false;
    if (readOnly) {
        struct stat created;
        if (fstat(descriptor_, &created) == 0) fchmod(descriptor_, created.st_mode & ~0222);
    }
    return true;
}

bool ZipTargetFile::Write(const void* data, uint32_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(descriptor_, bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<uint32_t>(written);
    }
    return true;
}

bool ZipTargetFile::SetTimes(const FILETIME& /*creation: no POSIX counterpart*/,
                             const FILETIME& access, const FILETIME& write) {
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    return futimens(descriptor_, times) == 0;
}
