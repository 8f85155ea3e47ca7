#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include "delivery/LocalFile.h"
#include "services/FileSystem.h"

namespace qorv {

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
    return m_descriptor >= 0 ? S_OK : kResultFailed;
}

HRESULT LocalFile::ReadAt(uint64_t offset, void* data, size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t read = pread(m_descriptor, bytes, size, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) return kResultFailed;
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
        if (written <= 0) return kResultFailed;
        bytes += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<size_t>(written);
    }
    return S_OK;
}

HRESULT LocalFile::Size(uint64_t* size) {
    struct stat status;
    if (fstat(m_descriptor, &status) != 0) return kResultFailed;
    *size = static_cast<uint64_t>(status.st_size);
    return S_OK;
}

HRESULT LocalFile::Flush() {
    return fsync(m_descriptor) == 0 ? S_OK : kResultFailed;
}

void LocalFile::MakeSparse() {
    // Unwritten ranges of a POSIX file are holes already.
}

}  // namespace qorv
