#include "services/zip/ZipEntryRecord.h"

#include "services/zip/ZipNames.h"
#include "services/zip/ZipTimes.h"

namespace qorv {

namespace {

// Hosts whose external attributes carry DOS attribute bits in the low byte:
// 0 (MS-DOS and FAT), 7 (Macintosh), 11 (NTFS), 14 (VFAT).
bool HostHasDosAttributes(uint32_t host) {
    return host == 0 || host == 7 || host == 11 || host == 14;
}

// Checks the local header against the central record (minizip does this
// when the entry's data is opened; raw mode skips the decompressor) and
// reads the local extra field whole.
ZipResult ReadLocalExtraField(unzFile reader, std::vector<unsigned char>* extra) {
    if (unzOpenCurrentFile2(reader, nullptr, nullptr, 1) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return ZipErrCorrupt;
    }
    const int size = unzGetLocalExtrafield(reader, nullptr, 0);
    extra->resize(size > 0 ? static_cast<size_t>(size) : 0);
    const int read =
        size > 0 ? unzGetLocalExtrafield(reader, extra->data(), static_cast<unsigned>(size)) : 0;
    unzCloseCurrentFile(reader);
    return read == size ? ZipOk : ZipErrRead;
}

}  // namespace

uint32_t ZipMapAttributes(uint32_t external, uint32_t versionMadeBy) {
    bool directory = (external & (1u << 30)) != 0;
    bool readOnly = (external & (1u << 23)) == 0;
    bool hidden = false;
    bool system = false;
    bool archive = true;
    if (HostHasDosAttributes((versionMadeBy >> 8) & 0xFF)) {
        // The low byte holds the DOS attributes, bit for bit the Windows ones.
        readOnly = (external & kZipAttrReadOnly) != 0;
        hidden = (external & kZipAttrHidden) != 0;
        system = (external & kZipAttrSystem) != 0;
        directory = (external & kZipAttrDirectory) != 0;
        archive = (external & kZipAttrArchive) != 0;
    }
    return (directory ? kZipAttrDirectory : 0) | (archive ? kZipAttrArchive : 0) |
           (hidden ? kZipAttrHidden : 0) | (readOnly ? kZipAttrReadOnly : 0) |
           (system ? kZipAttrSystem : 0);
}

ZipResult ZipReadEntryRecord(ZipExtractor& extractor, int32_t index, ZipEntryInfo* record,
                             ZipEntryFacts* facts) {
    unzFile reader = extractor.reader.get();
    unz_file_info64 info;
    char stored[kZipMaxPath];
    if (unzGetCurrentFileInfo64(reader, &info, stored, sizeof(stored), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        return ZipErrRead;
    }
    // Names of 260 bytes or more would not arrive whole.
    if (info.size_filename >= sizeof(stored)) return ZipErrFile;
    // minizip would hand out other methods (bzip2 among them) as raw data.
    if (info.compression_method != kZipMethodStored && info.compression_method != Z_DEFLATED) {
        return ZipErrCorrupt;
    }
    const ZipResult local = ReadLocalExtraField(reader, &extractor.extraField);
    if (local != ZipOk) return local;

    ZipEntryInfo result = {};
    result.index = index;
    if (!ZipDecodeName(stored, info.size_filename, result.name)) return ZipErrFile;
    ZipCleanName(result.name);
    result.attributes = ZipMapAttributes(static_cast<uint32_t>(info.external_fa),
                                         static_cast<uint32_t>(info.version));
    result.compressedSize = static_cast<uint32_t>(info.compressed_size);
    result.uncompressedSize = static_cast<uint32_t>(info.uncompressed_size);
    const FILETIME dosTime = ZipDosTimeToFileTime(static_cast<uint32_t>(info.dosDate));
    result.accessTime = dosTime;
    result.creationTime = dosTime;
    result.writeTime = dosTime;
    ZipApplyExtendedTimes(extractor.extraField.data(), extractor.extraField.size(), &result);

    *record = result;
    facts->flags = static_cast<uint32_t>(info.flag);
    facts->method = static_cast<uint32_t>(info.compression_method);
    facts->crc = static_cast<uint32_t>(info.crc);
    facts->dosDateTime = static_cast<uint32_t>(info.dosDate);
    facts->uncompressedSize = info.uncompressed_size;
    return ZipOk;
}

}  // namespace qorv
