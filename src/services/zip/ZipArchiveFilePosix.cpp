#include <cstdio>
#include <cwchar>
#include <string>

#include "services/FileSystem.h"
#include "services/zip/ZipArchiveFile.h"

namespace qorv {

namespace {

// Opens the wide path as UTF-8 ("\" separates as well); stdio does the rest.
voidpf OpenArchive(voidpf /*opaque*/, const void* path, int /*mode: always read*/) {
    return fopen(NativePath(static_cast<const wchar_t*>(path)).c_str(), "rb");
}

}  // namespace

void ZipFillArchiveFunctions(zlib_filefunc64_def* functions) {
    fill_fopen64_filefunc(functions);
    functions->zopen64_file = OpenArchive;
}

}  // namespace qorv
