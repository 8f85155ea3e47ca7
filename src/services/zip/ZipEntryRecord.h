// Reading the record of the reader's current entry.
#pragma once

#include "services/zip/ZipExtractor.h"

namespace qorv {

// Windows attribute bits from an entry's external attributes and the host
// system in the high byte of its "version made by".
uint32_t ZipMapAttributes(uint32_t external, uint32_t versionMadeBy);

// Fills record and facts from the current entry: its central-directory
// record, its local header (checked against it) and the local extra field.
// On failure record and facts are left untouched:
// ZipErrCorrupt for a disagreeing local header or a method other than
// stored and deflate, ZipErrRead when the archive cannot be read there,
// ZipErrFile for a name that does not fit the record.
ZipResult ZipReadEntryRecord(ZipExtractor& extractor, int32_t index, ZipEntryInfo* record,
                             ZipEntryFacts* facts);

}  // namespace qorv
