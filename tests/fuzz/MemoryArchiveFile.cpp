#include "MemoryArchiveFile.h"

#include <cstring>
#include <new>

#include "services/zip/ZipArchiveFile.h"

namespace {

struct MemoryArchive {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// One open archive: a read position that, as with a file, may lie past the end.
struct MemoryStream {
    const MemoryArchive* archive;
    uint64_t position;
};

MemoryArchive g_archive;

voidpf Open(voidpf opaque, const void* /*path: every path reads the bytes*/, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_WRITE) != 0) return nullptr;
    return new (std::nothrow) MemoryStream{static_cast<const MemoryArchive*>(opaque), 0};
}

uLong Read(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
    auto* file = static_cast<MemoryStream*>(stream);
    const size_t total = file->archive->size;
    if (file->position >= total) return 0;
    const uint64_t available = total - file->position;
    const uLong count = available < size ? static_cast<uLong>(available) : size;
    memcpy(buffer, file->archive->data + file->position, count);
    file->position += count;
    return count;
}

uLong Write(voidpf /*opaque*/, voidpf /*stream*/, const void* /*buffer*/, uLong /*size*/) {
    return 0;
}

ZPOS64_T Tell(voidpf /*opaque*/, voidpf stream) {
    return static_cast<MemoryStream*>(stream)->position;
}

long Seek(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<MemoryStream*>(stream);
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = file->position;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = file->archive->size;
            break;
        default:
            return -1;
    }
    // minizip passes backward moves from the end as unsigned wrap-around.
    file->position = base + offset;
    return 0;
}

int Close(voidpf /*opaque*/, voidpf stream) {
    delete static_cast<MemoryStream*>(stream);
    return 0;
}

int Error(voidpf /*opaque*/, voidpf /*stream*/) {
    return 0;
}

}  // namespace

void SetMemoryArchive(const uint8_t* data, size_t size) {
    g_archive.data = data;
    g_archive.size = size;
}

void FillMemoryArchiveFunctions(zlib_filefunc64_def* functions) {
    functions->zopen64_file = Open;
    functions->zread_file = Read;
    functions->zwrite_file = Write;
    functions->ztell64_file = Tell;
    functions->zseek64_file = Seek;
    functions->zclose_file = Close;
    functions->zerror_file = Error;
    functions->opaque = &g_archive;
}

// The zip layer's seam: archives come from memory in the fuzz build.
void qorv::ZipFillArchiveFunctions(zlib_filefunc64_def* functions) {
    FillMemoryArchiveFunctions(functions);
}
