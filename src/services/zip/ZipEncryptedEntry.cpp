#include "services/zip/ZipEncryptedEntry.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "services/zip/ZipCrypt.h"

namespace qorv {

namespace {

constexpr uint32_t kFlagDataDescriptor = 0x08;

// The entry's data opened raw in the reader, closed when this goes.
struct RawEntryData {
    explicit RawEntryData(unzFile reader)
        : reader(reader), opened(unzOpenCurrentFile2(reader, nullptr, nullptr, 1) == UNZ_OK) {}
    ~RawEntryData() { unzCloseCurrentFile(reader); }
    RawEntryData(const RawEntryData&) = delete;
    RawEntryData& operator=(const RawEntryData&) = delete;

    unzFile reader;
    bool opened;
};

struct Inflater {
    Inflater() : ready(inflateInit2(&stream, -MAX_WBITS) == Z_OK) {}
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    z_stream stream = {};
    bool ready;
};

// Decrypts and checks the 12-byte header: its last byte must equal the high
// byte of the CRC-32, or of the DOS time when sizes follow the data.
ZipResult CheckHeader(unzFile reader, const ZipEntryFacts& facts, ZipCryptKeys* keys) {
    unsigned char header[kZipEncryptionHeaderSize];
    if (unzReadCurrentFile(reader, header, sizeof(header)) != kZipEncryptionHeaderSize) {
        return ZipErrInflate;
    }
    ZipCryptDecrypt(keys, header, sizeof(header));
    const auto expected = static_cast<unsigned char>(
        (facts.flags & kFlagDataDescriptor) != 0 ? facts.dosDateTime >> 8 : facts.crc >> 24);
    return header[kZipEncryptionHeaderSize - 1] == expected ? ZipOk : ZipErrPassword;
}

struct Progress {
    uLong crc = crc32(0, nullptr, 0);
    uint64_t written = 0;
};

bool WriteChunk(TargetFile& file, const unsigned char* data, uint32_t size, Progress* progress) {
    if (size == 0) return true;
    progress->crc = crc32(progress->crc, data, size);
    progress->written += size;
    return file.Write(data, size);
}

}  // namespace

ZipResult ZipWriteEncryptedEntry(unzFile reader, const ZipEntryFacts& facts, unsigned char* output,
                                 TargetFile& file) {
    RawEntryData data(reader);
    if (!data.opened) return ZipErrInflate;
    ZipCryptKeys keys = ZipCryptEmptyPasswordKeys();
    const ZipResult header = CheckHeader(reader, facts, &keys);
    if (header != ZipOk) return header;

    const bool deflated = facts.method == Z_DEFLATED;
    Inflater inflater;
    if (deflated && !inflater.ready) return ZipErrInflate;
    std::unique_ptr<unsigned char[]> input(new (std::nothrow) unsigned char[kZipOutputBufferSize]);
    if (!input) return ZipErrInflate;
    Progress progress;
    bool streamEnded = !deflated;
    for (;;) {
        const int read = unzReadCurrentFile(reader, input.get(), kZipOutputBufferSize);
        if (read < 0) return ZipErrInflate;
        if (read == 0) break;
        ZipCryptDecrypt(&keys, input.get(), static_cast<size_t>(read));
        if (!deflated) {
            if (!WriteChunk(file, input.get(), static_cast<uint32_t>(read), &progress)) {
                return ZipErrWrite;
            }
            continue;
        }
        z_stream& stream = inflater.stream;
        stream.next_in = input.get();
        stream.avail_in = static_cast<uInt>(read);
        while (!streamEnded) {
            stream.next_out = output;
            stream.avail_out = kZipOutputBufferSize;
            const int inflated = inflate(&stream, Z_NO_FLUSH);
            if (inflated != Z_OK && inflated != Z_STREAM_END && inflated != Z_BUF_ERROR) {
                return ZipErrInflate;
            }
            if (!WriteChunk(file, output, kZipOutputBufferSize - stream.avail_out, &progress)) {
                return ZipErrWrite;
            }
            streamEnded = inflated == Z_STREAM_END;
            // Output space left over means the input is used up.
            if (stream.avail_out != 0) break;
        }
    }
    // Damaged data is never success: the whole entry, of its size and CRC-32.
    if (!streamEnded || progress.written != facts.uncompressedSize || progress.crc != facts.crc) {
        return ZipErrInflate;
    }
    return ZipOk;
}

}  // namespace qorv
