#include "ZipTestArchive.h"

#include <zlib.h>

#include <stdexcept>

namespace {

void Put16(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string RawDeflate(const std::string& data) {
    z_stream stream = {};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Traditional PKWARE encryption, written independently of the code under test.
struct CryptKeys {
    uint32_t k0 = 305419896u, k1 = 591751049u, k2 = 878082192u;

    uint8_t Next() const {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    }
    void Update(uint8_t plain) {
        const z_crc_t* table = get_crc_table();
        k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    std::string Encrypt(const std::string& plain) {
        std::string out;
        for (const char c : plain) {
            const auto p = static_cast<uint8_t>(c);
            out.push_back(static_cast<char>(p ^ Next()));
            Update(p);
        }
        return out;
    }
};

}  // namespace

uint32_t TestCrc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string ExtendedTimeBlock(uint8_t flags, const std::vector<int32_t>& stamps) {
    std::string block = "UT";
    Put16(&block, static_cast<uint32_t>(1 + 4 * stamps.size()));
    block.push_back(static_cast<char>(flags));
    for (const int32_t stamp : stamps) Put32(&block, static_cast<uint32_t>(stamp));
    return block;
}

std::string BuildTestZip(const std::vector<TestZipEntry>& entries, const TestZipLayout& layout) {
    std::string archive;
    std::string central;
    std::vector<uint32_t> offsets;
    for (const TestZipEntry& entry : entries) {
        const uint32_t crc =
            entry.crc >= 0 ? static_cast<uint32_t>(entry.crc) : TestCrc32(entry.data);
        std::string body = entry.method == 8 ? RawDeflate(entry.data) : entry.data;
        uint16_t flags = entry.flags;
        if (entry.encrypt) {
            flags |= 1;
            std::string header = "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB";
            const uint8_t check = (flags & 8) != 0 ? static_cast<uint8_t>(entry.dosDateTime >> 8)
                                                   : static_cast<uint8_t>(crc >> 24);
            header.push_back(static_cast<char>(check + entry.checkByteDelta));
            CryptKeys keys;
            body = keys.Encrypt(header + body);
        }
        if (entry.damageAt >= 0) body[entry.damageAt] = static_cast<char>(~body[entry.damageAt]);
        const uint64_t compressedSize = body.size();
        const uint64_t size =
            entry.declaredSize >= 0 ? static_cast<uint64_t>(entry.declaredSize) : entry.data.size();
        body.resize(body.size() - entry.truncateData);
        // Zip64 sizes: 0xFFFFFFFF in the fixed fields, the values in the extra.
        std::string zip64Extra;
        if (entry.zip64) {
            Put16(&zip64Extra, 0x0001);
            Put16(&zip64Extra, 16);
            Put32(&zip64Extra, static_cast<uint32_t>(size));
            Put32(&zip64Extra, static_cast<uint32_t>(size >> 32));
            Put32(&zip64Extra, static_cast<uint32_t>(compressedSize));
            Put32(&zip64Extra, static_cast<uint32_t>(compressedSize >> 32));
        }
        const uint32_t sizeField = entry.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(size);
        const uint32_t compressedField =
            entry.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(compressedSize);

        uint32_t offset = 0;
        if (entry.sameDataAs >= 0) {
            offset = offsets.at(static_cast<size_t>(entry.sameDataAs));
        } else {
            offset = static_cast<uint32_t>(archive.size());
            const int localMethod = entry.localMethod >= 0 ? entry.localMethod : entry.method;
            const std::string localExtra = zip64Extra + entry.localExtra;
            Put32(&archive, 0x04034b50);
            Put16(&archive, entry.zip64 ? 45 : 20);
            Put16(&archive, flags);
            Put16(&archive, static_cast<uint32_t>(localMethod));
            Put32(&archive, entry.dosDateTime);
            Put32(&archive, crc);
            Put32(&archive, compressedField);
            Put32(&archive, sizeField);
            Put16(&archive, static_cast<uint32_t>(entry.name.size()));
            Put16(&archive, static_cast<uint32_t>(localExtra.size()));
            archive += entry.name + localExtra + body;
        }
        offsets.push_back(offset);

        Put32(&central, 0x02014b50);
        Put16(&central, entry.versionMadeBy);
        Put16(&central, entry.zip64 ? 45 : 20);
        Put16(&central, flags);
        Put16(&central, entry.method);
        Put32(&central, entry.dosDateTime);
        Put32(&central, crc);
        Put32(&central, compressedField);
        Put32(&central, sizeField);
        Put16(&central, static_cast<uint32_t>(entry.name.size()));
        const std::string centralExtra = zip64Extra + entry.centralExtra;
        Put16(&central, static_cast<uint32_t>(centralExtra.size()));
        Put16(&central, 0);  // no comment
        Put16(&central, 0);  // disk
        Put16(&central, 0);  // internal attributes
        Put32(&central, entry.externalAttributes);
        Put32(&central, offset);
        central += entry.name + centralExtra;
    }
    const auto centralOffset = static_cast<uint32_t>(archive.size());
    archive += central;
    const uint64_t count =
        layout.claimedEntries >= 0 ? static_cast<uint64_t>(layout.claimedEntries) : entries.size();
    if (layout.zip64End) {
        const auto endOffset = static_cast<uint32_t>(archive.size());
        Put32(&archive, 0x06064b50);
        Put32(&archive, 44);  // size of the rest of the record, 64 bits
        Put32(&archive, 0);
        Put16(&archive, 45);
        Put16(&archive, 45);
        Put32(&archive, 0);            // this disk
        Put32(&archive, 0);            // disk of the central directory
        for (int i = 0; i < 2; ++i) {  // entries on this disk, then in all
            Put32(&archive, static_cast<uint32_t>(count));
            Put32(&archive, static_cast<uint32_t>(count >> 32));
        }
        Put32(&archive, static_cast<uint32_t>(central.size()));
        Put32(&archive, 0);
        Put32(&archive, centralOffset);
        Put32(&archive, 0);
        Put32(&archive, 0x07064b50);
        Put32(&archive, 0);
        Put32(&archive, endOffset);
        Put32(&archive, 0);
        Put32(&archive, 1);
    }
    const uint32_t classicCount = count > 0xFFFF || layout.zip64End ? 0xFFFF : count;
    Put32(&archive, 0x06054b50);
    Put16(&archive, 0);
    Put16(&archive, 0);
    Put16(&archive, classicCount);
    Put16(&archive, classicCount);
    Put32(&archive, layout.zip64End ? 0xFFFFFFFF : static_cast<uint32_t>(central.size()));
    Put32(&archive, layout.zip64End ? 0xFFFFFFFF : centralOffset);
    Put16(&archive, 0);
    return layout.prefix + archive;
}
