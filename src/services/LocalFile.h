// The file layer's open file, over wide paths on every build (partial
// downloads, the sparse copy of a package, the install state, the archive
// being unpacked), and the whole-file reads and writes made of it. Its
// platform calls sit with the by-path ones in FileSystemWin.cpp and
// FileSystemPosix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/Hresult.h"

#include "services/UniqueHandle.h"

namespace qorv {

// One open file, read and written at offsets; closed when it goes.
class LocalFile {
public:
    enum class Mode {
        kRead,      // an existing file
        kUpdate,    // an existing file or a new one, its bytes kept
        kTruncate,  // a new file, or an existing one emptied
    };

    LocalFile() = default;
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens path, closing a file opened before.
    [[nodiscard]] HRESULT Open(const std::wstring& path, Mode mode);
    void Close();
    // Exactly size bytes, or a failure.
    [[nodiscard]] HRESULT ReadAt(uint64_t offset, void* data, size_t size);
    // Up to size bytes: *read is less only where the file ends.
    [[nodiscard]] HRESULT ReadUpTo(uint64_t offset, void* data, size_t size, size_t* read);
    [[nodiscard]] HRESULT WriteAt(uint64_t offset, const void* data, size_t size);
    [[nodiscard]] HRESULT Size(uint64_t* size);
    [[nodiscard]] HRESULT Flush();
    // Unwritten ranges take no room where the file system allows it; where
    // it does not, the file is only larger on disk.
    void MakeSparse();

private:
#ifdef _WIN32
    KernelHandle m_file;
#else
    FileDescriptor m_descriptor;
#endif
};

// The whole file at path, at most limit bytes; false when it is missing,
// unreadable or larger.
bool ReadWholeFile(const std::wstring& path, uint64_t limit, std::vector<unsigned char>* bytes);

// Writes bytes to newPath, flushes them, and moves the file over path; on a
// failure nothing is left at newPath and path is as it was.
[[nodiscard]] bool KeepFile(const std::vector<unsigned char>& bytes, const std::wstring& newPath,
                            const std::wstring& path);

}  // namespace qorv
