// A minizip reader over an archive opened by its wide path through the
// layer's archive file functions; closed when it goes.
#pragma once

#include <minizip/unzip.h>

#include <memory>

#include "services/zip/ZipArchiveFile.h"

namespace qorv {

struct ZipReaderCloser {
    void operator()(void* reader) const { unzClose(reader); }
};
using ZipReader = std::unique_ptr<void, ZipReaderCloser>;

// Empty when the file cannot be opened or holds no archive minizip finds.
inline ZipReader ZipOpenReader(const wchar_t* archivePath) {
    zlib_filefunc64_def functions;
    ZipFillArchiveFunctions(&functions);
    return ZipReader(unzOpen2_64(archivePath, &functions));
}

}  // namespace qorv
