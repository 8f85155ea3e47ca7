// Entry time stamps: the DOS stamp of the central directory and the "UT"
// extended time stamps of the local extra field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "services/zip/ZipExtract.h"

namespace qorv {

// Extra-field block id of the extended time stamps.
constexpr unsigned char kZipExtendedTimeId[2] = {'U', 'T'};

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kZipUnixEpochFileTime = 0x019DB1DED53E8000LL;

FILETIME ZipFileTimeFromInt64(int64_t value);
uint64_t ZipFileTimeToUint64(const FILETIME& time);

// The DOS stamp (date in the high 16 bits, time in the low 16) read as local
// time and turned into UTC with the offset in force now. Zero when the stamp
// is no valid calendar value.
FILETIME ZipDosTimeToFileTime(uint32_t dosDateTime);

// Seconds since 1970-01-01 UTC as a FILETIME.
FILETIME ZipUnixTimeToFileTime(int32_t seconds);

// Overrides the record's times with those that the first "UT" block of the
// extra field carries. Stamps that run past the field's end are ignored.
void ZipApplyExtendedTimes(const unsigned char* extra, size_t length, ZipEntryInfo* record);

}  // namespace qorv
