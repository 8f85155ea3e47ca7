#include "services/zip/PackageDirectory.h"

#include <algorithm>

#include "services/zip/LittleEndian.h"

namespace qorv {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralSize = 46;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

constexpr uint16_t kEntrySha256Id = 0x5153;

// Calls visit(id, data, size) for each block of an extra field while it
// returns true; false when it stops early, or a block runs past the field's
// end or bytes too few for a block header are left over.
template <typename Visit>
bool WalkExtra(const unsigned char* extra, size_t size, Visit visit) {
    size_t at = 0;
    while (size - at >= 4) {
        const uint16_t id = ZipRead16(extra + at);
        const size_t length = ZipRead16(extra + at + 2);
        if (size - at - 4 < length) return false;
        if (!visit(id, extra + at + 4, length)) return false;
        at += 4 + length;
    }
    return at == size;
}

// Splits the extra field into the zip64 block, whose values replace the
// marked fields, and the rest, kept for comparison.
bool ReadExtra(const unsigned char* extra, size_t size, PackageEntry* entry, bool offsetMarked) {
    return WalkExtra(extra, size, [&](uint16_t id, const unsigned char* data, size_t length) {
        if (id != kZip64ExtraId) {
            // The block with its header.
            entry->extra.append(reinterpret_cast<const char*>(data - 4), 4 + length);
            return true;
        }
        size_t used = 0;
        uint64_t* fields[] = {
            entry->uncompressedSize == kZip64Marker ? &entry->uncompressedSize : nullptr,
            entry->compressedSize == kZip64Marker ? &entry->compressedSize : nullptr,
            offsetMarked ? &entry->localHeaderOffset : nullptr};
        for (uint64_t* field : fields) {
            if (field == nullptr) continue;
            if (used + 8 > length) return false;
            *field = ZipRead64(data + used);
            used += 8;
        }
        return true;
    });
}

}  // namespace

bool LocateDirectory(const std::vector<unsigned char>& buffer, DirectoryLocation* location) {
    if (buffer.size() < kEndSize) return false;
    // The classic end record is the last one whose comment reaches the end.
    for (size_t at = buffer.size() - kEndSize + 1; at-- > 0;) {
        const unsigned char* end = buffer.data() + at;
        if (ZipRead32(end) != kEndSignature) continue;
        if (at + kEndSize + ZipRead16(end + 20) != buffer.size()) continue;
        DirectoryLocation found;
        found.count = ZipRead16(end + 10);
        found.size = ZipRead32(end + 12);
        found.offset = ZipRead32(end + 16);
        found.endInBuffer = at;
        if (at >= kZip64LocatorSize &&
            ZipRead32(end - kZip64LocatorSize) == kZip64LocatorSignature) {
            if (at < kZip64LocatorSize + kZip64EndSize) return false;
            const size_t zip64At = at - kZip64LocatorSize - kZip64EndSize;
            const unsigned char* zip64 = buffer.data() + zip64At;
            if (ZipRead32(zip64) != kZip64EndSignature) return false;
            found.count = ZipRead64(zip64 + 32);
            found.size = ZipRead64(zip64 + 40);
            found.offset = ZipRead64(zip64 + 48);
            found.endInBuffer = zip64At;
        }
        *location = found;
        return true;
    }
    return false;
}

bool ParseDirectory(const unsigned char* directory, size_t size, const DirectoryLocation& location,
                    std::vector<PackageEntry>* entries) {
    std::vector<PackageEntry> parsed;
    size_t at = 0;
    for (uint64_t i = 0; i < location.count; ++i) {
        if (size - at < kCentralSize) return false;
        const unsigned char* record = directory + at;
        if (ZipRead32(record) != kCentralSignature) return false;
        const size_t nameLength = ZipRead16(record + 28);
        const size_t extraLength = ZipRead16(record + 30);
        const size_t commentLength = ZipRead16(record + 32);
        if (size - at - kCentralSize < nameLength + extraLength + commentLength) return false;
        PackageEntry entry;
        entry.versionMadeBy = ZipRead16(record + 4);
        entry.dosDateTime =
            (static_cast<uint32_t>(ZipRead16(record + 14)) << 16) | ZipRead16(record + 12);
        entry.crc = ZipRead32(record + 16);
        entry.compressedSize = ZipRead32(record + 20);
        entry.uncompressedSize = ZipRead32(record + 24);
        entry.externalAttributes = ZipRead32(record + 38);
        const uint32_t offset = ZipRead32(record + 42);
        entry.localHeaderOffset = offset;
        entry.name.assign(reinterpret_cast<const char*>(record + kCentralSize), nameLength);
        if (!ReadExtra(record + kCentralSize + nameLength, extraLength, &entry,
                       offset == kZip64Marker)) {
            return false;
        }
        parsed.push_back(std::move(entry));
        at += kCentralSize + nameLength + extraLength + commentLength;
    }
    entries->swap(parsed);
    return true;
}

bool ReadDirectory(const std::vector<unsigned char>& buffer, std::vector<PackageEntry>* entries) {
    DirectoryLocation location;
    if (!LocateDirectory(buffer, &location) || location.size > location.endInBuffer) return false;
    const size_t start = location.endInBuffer - static_cast<size_t>(location.size);
    return ParseDirectory(buffer.data() + start, static_cast<size_t>(location.size), location,
                          entries);
}

bool SameEntry(const PackageEntry& a, const PackageEntry& b) {
    return a.name == b.name && a.crc == b.crc && a.compressedSize == b.compressedSize &&
           a.uncompressedSize == b.uncompressedSize && a.dosDateTime == b.dosDateTime &&
           a.versionMadeBy == b.versionMadeBy && a.externalAttributes == b.externalAttributes &&
           a.extra == b.extra;
}

bool EntrySha256(const PackageEntry& entry, Sha256Digest* digest) {
    Sha256Digest found{};
    int count = 0;
    const bool whole =
        WalkExtra(reinterpret_cast<const unsigned char*>(entry.extra.data()), entry.extra.size(),
                  [&](uint16_t id, const unsigned char* data, size_t length) {
                      if (id != kEntrySha256Id) return true;
                      if (length != found.size() || ++count > 1) return false;
                      std::copy(data, data + length, found.begin());
                      return true;
                  });
    if (!whole || count != 1) return false;
    *digest = found;
    return true;
}

}  // namespace qorv
