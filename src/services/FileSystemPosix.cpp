#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/PowerCutPosix.h"
#include "services/TargetFile.h"
#include "services/Text.h"

namespace qorv {

namespace {

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpoch = 0x019DB1DED53E8000ULL;

// The failure as Windows would give it where the two agree; else errno
// itself as a customer-defined failure (bit 29), so that a trace still shows
// what the system said.
HRESULT ErrnoResult(int error) {
    constexpr HRESULT kWin32 = static_cast<HRESULT>(0x80070000);
    switch (error) {
        case ENOENT:
            return kResultFileNotFound;
        case EACCES:
        case EPERM:
            return kWin32 | 5;  // ERROR_ACCESS_DENIED
        case ENOSPC:
            return kResultDiskFull;
        case ETXTBSY:
        case EBUSY:
            return kResultSharingViolation;
        default:
            return static_cast<HRESULT>(0xA0000000u | (static_cast<uint32_t>(error) & 0xFFFFu));
    }
}

// FILE_ATTRIBUTE_READONLY, kept as the owner's write bit.
constexpr uint32_t kReadOnlyAttribute = 0x01;

// A time as TargetFile takes it; a zero time is left as it is.
timespec ToTimespec(uint64_t time) {
    timespec result;
    if (time == 0) {
        result.tv_sec = 0;
        result.tv_nsec = UTIME_OMIT;
        return result;
    }
    const int64_t sinceEpoch = static_cast<int64_t>(time - kUnixEpoch);
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

// Native builds only: milliseconds to wait at every close of an extracted
// file, so that benchmarks can play a virus scanner.
constexpr char kCloseDelayVariable[] = "QORV_CLOSE_DELAY_MS";

// The wait a benchmark adds to every close of an extracted file, as a virus
// scanner's scan of each new file costs on Windows: read once, in
// milliseconds, from kCloseDelayVariable; none when it is unset.
useconds_t CloseDelay() {
    static const useconds_t delay = [] {
        const char* value = getenv(kCloseDelayVariable);
        const long milliseconds = value != nullptr ? strtol(value, nullptr, 10) : 0;
        return milliseconds > 0 && milliseconds < 1000
                   ? static_cast<useconds_t>(milliseconds * 1000)
                   : useconds_t{0};
    }();
    return delay;
}

}  // namespace

std::string NativePath(const std::wstring& path) {
    std::string native = Utf16ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

std::wstring CurrentDirectory() {
    char native[PATH_MAX];
    if (getcwd(native, sizeof(native)) == nullptr) return std::wstring();
    return Utf8ToUtf16(native, strlen(native));
}

HRESULT MakeOneDirectory(const std::wstring& path) {
    if (!Change()) return kResultFailed;
    return mkdir(NativePath(path).c_str(), 0777) == 0 ? S_OK : ErrnoResult(errno);
}

bool PathExists(const std::wstring& path) {
    struct stat status;
    return lstat(NativePath(path).c_str(), &status) == 0;
}

bool DeleteOneFile(const std::wstring& path) {
    if (!Change()) return false;
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IWUSR) == 0) {
        return false;
    }
    return unlink(native.c_str()) == 0;
}

bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries) {
    const std::string native = NativePath(directory);
    const DirectoryStream dir(opendir(native.c_str()));
    if (!dir.IsValid()) return false;
    while (const dirent* found = readdir(dir.Get())) {
        const std::string name = found->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (lstat((native + "/" + name).c_str(), &info) != 0) continue;  // gone meanwhile
        DirEntry entry;
        entry.name = Utf8ToUtf16(name.data(), name.size());
        entry.directory = S_ISDIR(info.st_mode);
        entry.link = S_ISLNK(info.st_mode);
        entries->push_back(entry);
    }
    return true;
}

bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry) {
    if (!Change()) return false;
    const std::string native = NativePath(path);
    return (entry.link ? unlink(native.c_str()) : rmdir(native.c_str())) == 0;
}

void ClearReadOnly(const std::wstring& path) {
    if (!Change()) return;
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
    chmod(native.c_str(), status.st_mode | S_IWUSR);
}

FileFacts ReadFileFacts(const std::wstring& path) {
    FileFacts facts;
    struct stat status;
    if (stat(NativePath(path).c_str(), &status) != 0) return facts;
    facts.exists = true;
    facts.directory = S_ISDIR(status.st_mode);
    facts.size = static_cast<uint64_t>(status.st_size);
    const int64_t units =
        static_cast<int64_t>(status.st_mtim.tv_sec) * 10000000 + status.st_mtim.tv_nsec / 100;
    facts.writeTime = kUnixEpoch + static_cast<uint64_t>(units);
    return facts;
}

HRESULT MoveOver(const std::wstring& from, const std::wstring& to) {
    if (!Change()) return kResultFailed;
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (rename(source.c_str(), target.c_str()) != 0) return ErrnoResult(errno);
    NoteMove(target);
    return S_OK;
}

HRESULT CheckReplaceable(const std::wstring& /*path: a rename replaces any file here*/,
                         bool* moveAside) {
    *moveAside = false;
    return S_OK;
}

std::wstring FileHolders(const std::wstring&) {
    return {};
}

HRESULT FreeBytes(const std::wstring& path, uint64_t* bytes) {
    struct statvfs status;
    if (statvfs(NativePath(path).c_str(), &status) != 0) return ErrnoResult(errno);
    *bytes = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    // A small volume for the native tests: QORV_FREE_BYTES caps the answer.
    const char* cap = getenv("QORV_FREE_BYTES");
    if (cap != nullptr) {
        const uint64_t most = strtoull(cap, nullptr, 10);
        if (most < *bytes) *bytes = most;
    }
    return S_OK;
}

HRESULT MoveAside(const std::wstring& path, const std::wstring& aside) {
    return MoveOver(path, aside);
}

HRESULT FlushFile(const std::wstring& path) {
    if (!Change()) return kResultFailed;
    const FileDescriptor descriptor(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!descriptor.IsValid()) return ErrnoResult(errno);
    return FlushDescriptor(descriptor.Get()) == 0 ? S_OK : ErrnoResult(errno);
}

// The open file (LocalFile.h).

LocalFile::~LocalFile() {
    Close();
}

void LocalFile::Close() {
    m_descriptor.Reset();
}

HRESULT LocalFile::Open(const std::wstring& path, Mode mode) {
    Close();
    if (mode != Mode::kRead && !Change()) return kResultFailed;
    const int flags = mode == Mode::kRead     ? O_RDONLY
                      : mode == Mode::kUpdate ? O_RDWR | O_CREAT
                                              : O_RDWR | O_CREAT | O_TRUNC;
    m_descriptor.Reset(open(NativePath(path).c_str(), flags | O_CLOEXEC, 0666));
    return m_descriptor.IsValid() ? S_OK : ErrnoResult(errno);
}

HRESULT LocalFile::ReadUpTo(uint64_t offset, void* data, size_t size, size_t* read) {
    *read = 0;
    auto* bytes = static_cast<unsigned char*>(data);
    while (*read < size) {
        const ssize_t got = pread(m_descriptor.Get(), bytes + *read, size - *read,
                                  static_cast<off_t>(offset + *read));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return ErrnoResult(errno);
        if (got == 0) break;  // the end of the file
        *read += static_cast<size_t>(got);
    }
    return S_OK;
}

HRESULT LocalFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (!Change()) return kResultFailed;
    NoteBytes(m_descriptor.Get(), true);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = pwrite(m_descriptor.Get(), bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return ErrnoResult(errno);
        if (written == 0) return kResultFailed;
        bytes += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<size_t>(written);
    }
    return S_OK;
}

HRESULT LocalFile::Size(uint64_t* size) {
    struct stat status;
    if (fstat(m_descriptor.Get(), &status) != 0) return ErrnoResult(errno);
    *size = static_cast<uint64_t>(status.st_size);
    return S_OK;
}

HRESULT LocalFile::Flush() {
    if (!Change()) return kResultFailed;
    return FlushDescriptor(m_descriptor.Get()) == 0 ? S_OK : ErrnoResult(errno);
}

void LocalFile::MakeSparse() {
    // Unwritten ranges of a POSIX file are holes already.
}

// The target file (TargetFile.h).

TargetFile::~TargetFile() {
    m_descriptor.Reset();
    if (!m_committed && !m_written.empty() && Change()) unlink(NativePath(m_written).c_str());
}

TargetFile::Opened TargetFile::Open(const std::wstring& path, uint32_t attributes) {
    m_target = path;
    m_attributes = attributes;
    if (!Change()) return Opened::kFailed;
    // Never created read-only (the owner's write bit stands for the
    // attribute): Commit makes it so once the file is whole.
    m_descriptor.Reset(
        open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (m_descriptor.IsValid()) {
        m_written = path;
        return Opened::kOk;
    }
    if (errno == ENOENT) return Opened::kFolderMissing;
    return errno == EEXIST ? Opened::kExists : Opened::kFailed;
}

TargetFile::Opened TargetFile::OpenReplacement(const std::wstring& replacement) {
    if (!Change()) return Opened::kFailed;
    m_descriptor.Reset(
        open(NativePath(replacement).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!m_descriptor.IsValid()) return Opened::kFailed;
    m_written = replacement;
    return Opened::kOk;
}

bool TargetFile::Write(const void* data, uint32_t size) {
    if (!Change()) return false;
    NoteBytes(m_descriptor.Get(), true);
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(m_descriptor.Get(), bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<uint32_t>(written);
    }
    return true;
}

bool TargetFile::SetTimes(uint64_t /*creation: no POSIX counterpart*/, uint64_t access,
                          uint64_t write) {
    if (!Change()) return false;
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    return futimens(m_descriptor.Get(), times) == 0;
}

TargetFile::Committed TargetFile::Commit(bool flush) {
    bool written = !flush || (Change() && FlushDescriptor(m_descriptor.Get()) == 0);
    const useconds_t delay = CloseDelay();
    if (delay > 0) usleep(delay);
    // A close can report a write that failed late (a full disk, a network
    // drive): the bytes are not there then.
    written = close(m_descriptor.Release()) == 0 && written;
    if (!written || !Change()) return Committed::kNotWritten;
    const std::string target = NativePath(m_target);
    // rename replaces a read-only file too, as the Windows build does once
    // it has cleared the attribute.
    if (m_written != m_target) {
        if (rename(NativePath(m_written).c_str(), target.c_str()) != 0) {
            return Committed::kNotMoved;
        }
        NoteMove(target);
    }
    m_committed = true;
    struct stat status;
    if ((m_attributes & kReadOnlyAttribute) != 0 && stat(target.c_str(), &status) == 0) {
        chmod(target.c_str(), status.st_mode & ~0222);
    }
    return Committed::kOk;
}

}  // namespace qorv
