#include <windows.h>

#include <cstdint>
#include <cstring>

#include "services/UniqueHandle.h"
#include "services/zip/ZipArchiveFile.h"

namespace qorv {

namespace {

// The reader asks for headers a few bytes at a time, so reads are served
// from a small buffer; large reads of entry data go to the file directly.
struct ArchiveStream {
    explicit ArchiveStream(HANDLE handle) : file(handle) {}

    KernelHandle file;
    uint64_t position = 0;     // where the reader is
    uint64_t bufferStart = 0;  // file offset of buffer[0]
    DWORD bufferLength = 0;
    bool failed = false;
    unsigned char buffer[4096];
};

bool ReadAt(ArchiveStream* stream, uint64_t offset, void* data, DWORD size, DWORD* read) {
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(stream->file.Get(), target, nullptr, FILE_BEGIN) ||
        !ReadFile(stream->file.Get(), data, size, read, nullptr)) {
        stream->failed = true;
        return false;
    }
    return true;
}

voidpf ZCALLBACK OpenArchive(voidpf /*opaque*/, const void* path, int /*mode: always read*/) {
    HANDLE file = CreateFileW(static_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return new ArchiveStream(file);
}

uLong ZCALLBACK ReadArchive(voidpf /*opaque*/, voidpf handle, void* data, uLong size) {
    auto* stream = static_cast<ArchiveStream*>(handle);
    auto* out = static_cast<unsigned char*>(data);
    uLong done = 0;
    while (done < size) {
        const uint64_t bufferEnd = stream->bufferStart + stream->bufferLength;
        if (stream->position >= stream->bufferStart && stream->position < bufferEnd) {
            const uLong available = static_cast<uLong>(bufferEnd - stream->position);
            const uLong count = size - done < available ? size - done : available;
            memcpy(out + done, stream->buffer + (stream->position - stream->bufferStart), count);
            stream->position += count;
            done += count;
            continue;
        }
        DWORD read = 0;
        if (size - done >= sizeof(stream->buffer)) {
            if (!ReadAt(stream, stream->position, out + done, size - done, &read)) break;
            stream->position += read;
            done += read;
            break;
        }
        stream->bufferStart = stream->position;
        stream->bufferLength = 0;
        if (!ReadAt(stream, stream->position, stream->buffer, sizeof(stream->buffer), &read)) {
            break;
        }
        stream->bufferLength = read;
        if (read == 0) break;
    }
    return done;
}

uLong ZCALLBACK WriteArchive(voidpf /*opaque*/, voidpf /*handle*/, const void* /*data*/,
                             uLong /*size*/) {
    return 0;  // opened for reading only
}

ZPOS64_T ZCALLBACK TellArchive(voidpf /*opaque*/, voidpf handle) {
    return static_cast<ArchiveStream*>(handle)->position;
}

long ZCALLBACK SeekArchive(voidpf /*opaque*/, voidpf handle, ZPOS64_T offset, int origin) {
    auto* stream = static_cast<ArchiveStream*>(handle);
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            stream->position = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            stream->position += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END: {
            LARGE_INTEGER size;
            if (!GetFileSizeEx(stream->file.Get(), &size)) return -1;
            stream->position = static_cast<uint64_t>(size.QuadPart) + offset;
            return 0;
        }
        default:
            return -1;
    }
}

int ZCALLBACK CloseArchive(voidpf /*opaque*/, voidpf handle) {
    delete static_cast<ArchiveStream*>(handle);
    return 0;
}

int ZCALLBACK ArchiveError(voidpf /*opaque*/, voidpf handle) {
    return static_cast<ArchiveStream*>(handle)->failed ? 1 : 0;
}

}  // namespace

void ZipFillArchiveFunctions(zlib_filefunc64_def* functions) {
    functions->zopen64_file = OpenArchive;
    functions->zread_file = ReadArchive;
    functions->zwrite_file = WriteArchive;
    functions->ztell64_file = TellArchive;
    functions->zseek64_file = SeekArchive;
    functions->zclose_file = CloseArchive;
    functions->zerror_file = ArchiveError;
    functions->opaque = nullptr;
}

}  // namespace qorv
