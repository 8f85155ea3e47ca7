#include "delivery/LocalFile.h"

#include "services/FileSystem.h"

namespace qorv {

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

bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest) {
    // Opened for reading, shared only with readers: nobody changes the bytes
    // while they are counted.
    LocalFile file;
    uint64_t size = 0;
    if (file.Open(path, LocalFile::Mode::kRead) != S_OK || file.Size(&size) != S_OK) return false;
    std::vector<unsigned char> buffer(256 * 1024);
    Sha256 hash;
    for (uint64_t offset = 0; offset < size;) {
        const size_t piece =
            size - offset < buffer.size() ? static_cast<size_t>(size - offset) : buffer.size();
        if (file.ReadAt(offset, buffer.data(), piece) != S_OK) return false;
        hash.Update(buffer.data(), piece);
        offset += piece;
    }
    *digest = hash.Final();
    return true;
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
    if (written && MoveFileOver(newPath, path)) return true;
    DeleteOneFile(newPath);
    return false;
}

}  // namespace qorv
