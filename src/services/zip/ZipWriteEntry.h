// Writing one entry of an archive to the disk: a folder, or a file written
// whole or not at all and closed here or on the archive's close pool.
#pragma once

#include <cstdint>

#include "services/TargetFile.h"
#include "services/zip/ZipExtract.h"
#include "services/zip/ZipExtractor.h"

namespace qorv {

// How a file's close (and its move over an old file) ended, as a result.
ZipResult CommitResult(TargetFile::Committed committed);

// Makes the folder target names, under the base unless it is absolute.
ZipResult ExtractDirectory(const ZipExtractor& extractor, const wchar_t* target);

// Writes the reader's current entry (index) to target, under the base unless
// it is absolute; data the read-ahead prepared (prepared) is only written.
ZipResult ExtractFile(ZipExtractor& extractor, int32_t index, const wchar_t* target,
                      const ZipPreparedData* prepared);

}  // namespace qorv
