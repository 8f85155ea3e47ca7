#include "services/zip/ZipArchiveFile.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "services/LocalFile.h"

namespace qorv {

namespace {

// The reader asks for headers a few bytes at a time, so reads are served
// from small buffers; large reads of entry data go to the file directly.
// Extracting moves between two places, the central directory's records and
// the entries' local headers and data: each keeps a window of its own, so
// neither read evicts the other's bytes.
constexpr size_t kWindows = 2;

struct ArchiveWindow {
    uint64_t start = 0;  // file offset of bytes[0]
    size_t length = 0;
    unsigned char bytes[4096];
};

struct ArchiveStream {
    LocalFile file;
    uint64_t position = 0;  // where the reader is
    bool failed = false;
    ArchiveWindow windows[kWindows];
    size_t lastUsed = 0;  // the other window is refilled on a miss
};

// Up to size bytes, fewer only where the archive ends; a failure is kept for
// the reader's error call.
bool ReadAt(ArchiveStream* stream, uint64_t offset, void* data, size_t size, size_t* read) {
    if (stream->file.ReadUpTo(offset, data, size, read) == S_OK) return true;
    stream->failed = true;
    return false;
}

voidpf ZCALLBACK OpenArchive(voidpf /*opaque*/, const void* path, int /*mode: always read*/) {
    std::unique_ptr<ArchiveStream> stream(new (std::nothrow) ArchiveStream);
    if (!stream ||
        stream->file.Open(static_cast<const wchar_t*>(path), LocalFile::Mode::kRead) != S_OK) {
        return nullptr;
    }
    return stream.release();
}

// The window holding position, or null.
ArchiveWindow* WindowAt(ArchiveStream* stream) {
    for (size_t i = 0; i < kWindows; ++i) {
        ArchiveWindow& window = stream->windows[i];
        if (stream->position >= window.start && stream->position < window.start + window.length) {
            stream->lastUsed = i;
            return &window;
        }
    }
    return nullptr;
}

uLong ZCALLBACK ReadArchive(voidpf /*opaque*/, voidpf handle, void* data, uLong size) {
    auto* stream = static_cast<ArchiveStream*>(handle);
    auto* out = static_cast<unsigned char*>(data);
    uLong done = 0;
    while (done < size) {
        if (ArchiveWindow* window = WindowAt(stream)) {
            const uLong available =
                static_cast<uLong>(window->start + window->length - stream->position);
            const uLong count = size - done < available ? size - done : available;
            memcpy(out + done, window->bytes + (stream->position - window->start), count);
            stream->position += count;
            done += count;
            continue;
        }
        size_t read = 0;
        if (size - done >= sizeof(ArchiveWindow::bytes)) {
            if (!ReadAt(stream, stream->position, out + done, size - done, &read)) break;
            stream->position += read;
            done += static_cast<uLong>(read);
            break;
        }
        stream->lastUsed = (stream->lastUsed + 1) % kWindows;
        ArchiveWindow& window = stream->windows[stream->lastUsed];
        window.start = stream->position;
        window.length = 0;
        if (!ReadAt(stream, stream->position, window.bytes, sizeof(window.bytes), &read)) break;
        window.length = read;
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
            uint64_t size = 0;
            if (stream->file.Size(&size) != S_OK) return -1;
            stream->position = size + offset;
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
