#include "services/LocalFile.h"

#include "services/FileSystem.h"

namespace qorv {

HRESULT LocalFile::ReadAt(uint64_t offset, void* data, size_t size) {
    size_t read = 0;
    const HRESULT hr = ReadUpTo(offset, data, size, &read);
    if (hr != S_OK) return hr;
    return read == size ? S_OK : kResultEndOfFile;
}

bool ReadWholeFile(const std::wstring& path, uint64_t limit, std::vector<unsigned char>* bytes) {
    LocalFile file;
    uint64_t size = 0;
    if (file.Open(path, LocalFile::Mode::kRead) != S_OK || file.Size(&size) != S_OK ||
        size > limit) {
        return false;
    }
    bytes->assign(static_cast<size_t>(size), 0);
    return size == 0 || file.ReadAt(0, bytes->data(), bytes->size()) == S_OK;
}

bool KeepFile(const std::vector<unsigned char>& bytes, const std::wstring& newPath,
              const std::wstring& path) {
    bool written = false;
    {
        LocalFile file;
        written = file.Open(newPath, LocalFile::Mode::kTruncate) == S_OK &&
                  (bytes.empty() || file.WriteAt(0, bytes.data(), bytes.size()) == S_OK) &&
                  file.Flush() == S_OK;
    }  // closed here: it is moved or deleted next
    if (written && MoveOver(newPath, path) == S_OK) return true;
    DeleteOneFile(newPath);
    return false;
}

}  // namespace qorv
