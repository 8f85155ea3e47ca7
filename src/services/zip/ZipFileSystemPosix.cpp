#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "services/FileSystem.h"
#include "services/Text.h"
#include "services/zip/ZipFileSystem.h"
#include "services/zip/ZipTimes.h"

namespace qorv {

namespace {

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
    const std::wstring wide = Utf8ToUtf16(native, strlen(native));
    if (wide.size() >= static_cast<size_t>(capacity)) return false;
    wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return true;
}

ZipTargetFile::~ZipTargetFile() {
    if (m_descriptor >= 0) close(m_descriptor);
    if (!m_committed && m_written[0] != L'\0') unlink(NativePath(m_written).c_str());
}

ZipTargetFile::Opened ZipTargetFile::Open(const wchar_t* path, const wchar_t* replacement,
                                          uint32_t attributes) {
    wcscpy(m_target, path);
    m_attributes = attributes;
    // Never created read-only (the owner's write bit stands for the
    // attribute): Commit makes it so once the file is whole.
    m_descriptor = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_descriptor >= 0) {
        wcscpy(m_written, path);
        return Opened::kOk;
    }
    if (errno == ENOENT) return Opened::kFolderMissing;
    if (errno != EEXIST) return Opened::kFailed;
    m_descriptor =
        open(NativePath(replacement).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_descriptor < 0) return Opened::kFailed;
    wcscpy(m_written, replacement);
    return Opened::kOk;
}

bool ZipTargetFile::Write(const void* data, uint32_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(m_descriptor, bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<uint32_t>(written);
    }
    return true;
}

bool ZipTargetFile::Commit() {
    close(m_descriptor);
    m_descriptor = -1;
    const std::string target = NativePath(m_target);
    // rename replaces a read-only file too, as the Windows build does once
    // it has cleared the attribute.
    if (wcscmp(m_written, m_target) != 0 &&
        rename(NativePath(m_written).c_str(), target.c_str()) != 0) {
        return false;
    }
    m_committed = true;
    struct stat status;
    if ((m_attributes & kZipAttrReadOnly) != 0 && stat(target.c_str(), &status) == 0) {
        chmod(target.c_str(), status.st_mode & ~0222);
    }
    return true;
}

bool ZipTargetFile::SetTimes(const FILETIME& /*creation: no POSIX counterpart*/,
                             const FILETIME& access, const FILETIME& write) {
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    return futimens(m_descriptor, times) == 0;
}

}  // namespace qorv
