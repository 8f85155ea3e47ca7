#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Text.h"

namespace qorv {

namespace {

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpoch = 0x019DB1DED53E8000ULL;

// The failure as Windows would give it where the two agree, else E_FAIL.
HRESULT ErrnoResult(int error) {
    constexpr HRESULT kWin32 = static_cast<HRESULT>(0x80070000);
    switch (error) {
        case ENOENT:
            return kWin32 | 2;  // ERROR_FILE_NOT_FOUND
        case EACCES:
        case EPERM:
            return kWin32 | 5;  // ERROR_ACCESS_DENIED
        case ENOSPC:
            return kWin32 | 112;  // ERROR_DISK_FULL
        case ETXTBSY:
        case EBUSY:
            return kWin32 | 32;  // ERROR_SHARING_VIOLATION
        default:
            return kResultFailed;
    }
}

}  // namespace

std::string NativePath(const std::wstring& path) {
    std::string native = Utf16ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

HRESULT MakeOneDirectory(const std::wstring& path) {
    return mkdir(NativePath(path).c_str(), 0777) == 0 ? S_OK : ErrnoResult(errno);
}

bool PathExists(const std::wstring& path) {
    struct stat status;
    return lstat(NativePath(path).c_str(), &status) == 0;
}

bool DeleteOneFile(const std::wstring& path) {
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
    DIR* dir = opendir(native.c_str());
    if (dir == nullptr) return false;
    while (const dirent* found = readdir(dir)) {
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
    closedir(dir);
    return true;
}

bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry) {
    const std::string native = NativePath(path);
    return (entry.link ? unlink(native.c_str()) : rmdir(native.c_str())) == 0;
}

void ClearReadOnly(const std::wstring& path) {
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
    return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0 ? S_OK
                                                                         : ErrnoResult(errno);
}

HRESULT CheckReplaceable(const std::wstring& /*path: a rename replaces any file here*/) {
    return S_OK;
}

HRESULT FlushFile(const std::wstring& path) {
    const int descriptor = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return ErrnoResult(errno);
    const HRESULT result = fsync(descriptor) == 0 ? S_OK : ErrnoResult(errno);
    close(descriptor);
    return result;
}

// The open file (LocalFile.h).

LocalFile::~LocalFile() {
    Close();
}

void LocalFile::Close() {
    if (m_descriptor >= 0) close(m_descriptor);
    m_descriptor = -1;
}

HRESULT LocalFile::Open(const std::wstring& path, Mode mode) {
    Close();
    const int flags = mode == Mode::kRead     ? O_RDONLY
                      : mode == Mode::kUpdate ? O_RDWR | O_CREAT
                                              : O_RDWR | O_CREAT | O_TRUNC;
    m_descriptor = open(NativePath(path).c_str(), flags | O_CLOEXEC, 0666);
    return m_descriptor >= 0 ? S_OK : ErrnoResult(errno);
}

HRESULT LocalFile::ReadAt(uint64_t offset, void* data, size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t read = pread(m_descriptor, bytes, size, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) return ErrnoResult(errno);
        if (read == 0) return kResultFailed;  // the file ends before size
        bytes += read;
        offset += static_cast<uint64_t>(read);
        size -= static_cast<size_t>(read);
    }
    return S_OK;
}

HRESULT LocalFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = pwrite(m_descriptor, bytes, size, static_cast<off_t>(offset));
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
    if (fstat(m_descriptor, &status) != 0) return ErrnoResult(errno);
    *size = static_cast<uint64_t>(status.st_size);
    return S_OK;
}

HRESULT LocalFile::Flush() {
    return fsync(m_descriptor) == 0 ? S_OK : ErrnoResult(errno);
}

void LocalFile::MakeSparse() {
    // Unwritten ranges of a POSIX file are holes already.
}

}  // namespace qorv
