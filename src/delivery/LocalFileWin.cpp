#include <windows.h>

#include <winioctl.h>

#include "delivery/LocalFile.h"

namespace qorv {

namespace {

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

HRESULT Seek(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ? S_OK : LastError();
}

}  // namespace

LocalFile::~LocalFile() {
    Close();
}

void LocalFile::Close() {
    m_file.Reset();
}

HRESULT LocalFile::Open(const std::wstring& path, Mode mode) {
    Close();
    const DWORD access = mode == Mode::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == Mode::kRead     ? OPEN_EXISTING
                              : mode == Mode::kUpdate ? OPEN_ALWAYS
                                                      : CREATE_ALWAYS;
    // Readers may share; nobody writes beside the one writer.
    m_file.Reset(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.IsValid() ? S_OK : LastError();
}

HRESULT LocalFile::ReadAt(uint64_t offset, void* data, size_t size) {
    HRESULT hr = Seek(m_file.Get(), offset);
    auto* bytes = static_cast<unsigned char*>(data);
    while (hr == S_OK && size > 0) {
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD read = 0;
        if (!ReadFile(m_file.Get(), bytes, piece, &read, nullptr)) return LastError();
        if (read == 0) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        bytes += read;
        size -= read;
    }
    return hr;
}

HRESULT LocalFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    HRESULT hr = Seek(m_file.Get(), offset);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (hr == S_OK && size > 0) {
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(m_file.Get(), bytes, piece, &written, nullptr)) return LastError();
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        bytes += written;
        size -= written;
    }
    return hr;
}

HRESULT LocalFile::Size(uint64_t* size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(m_file.Get(), &value)) return LastError();
    *size = static_cast<uint64_t>(value.QuadPart);
    return S_OK;
}

HRESULT LocalFile::Flush() {
    return FlushFileBuffers(m_file.Get()) ? S_OK : LastError();
}

void LocalFile::MakeSparse() {
    DWORD returned = 0;
    DeviceIoControl(m_file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

}  // namespace qorv
