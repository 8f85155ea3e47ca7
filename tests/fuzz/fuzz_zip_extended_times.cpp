// The "UT" extra-field reader over arbitrary local extra fields. Besides
// staying inside the field, every time it sets must be a whole number of
// seconds within the signed 32-bit range of Unix time, and a field with no
// block boundary holding "UT" leaves the record's times alone.
#include <cstdio>
#include <cstdlib>

#include "FuzzFail.h"
#include "services/zip/ZipTimes.h"

using namespace qorv;

namespace {

constexpr uint64_t kUntouched = 0x0123456789ABCDEFull;
constexpr int64_t kTicksPerSecond = 10000000;

bool HasTimeBlock(const uint8_t* extra, size_t length) {
    for (size_t p = 0; p + 4 < length; p += 4 + (extra[p + 2] | (extra[p + 3] << 8))) {
        if (extra[p] == 'U' && extra[p + 1] == 'T') return true;
    }
    return false;
}

void CheckStamp(const FILETIME& time) {
    const uint64_t value = ZipFileTimeToUint64(time);
    if (value == kUntouched) return;
    const int64_t sinceEpoch = static_cast<int64_t>(value) - kZipUnixEpochFileTime;
    if (sinceEpoch % kTicksPerSecond != 0) Fail("stamp is not whole seconds");
    const int64_t seconds = sinceEpoch / kTicksPerSecond;
    if (seconds < INT32_MIN || seconds > INT32_MAX) Fail("stamp out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the field's length, so any read past it is caught.
    uint8_t* extra = static_cast<uint8_t*>(malloc(size > 0 ? size : 1));
    if (extra == nullptr) return 0;
    for (size_t i = 0; i < size; ++i) extra[i] = data[i];
    ZipEntryInfo record = {};
    const FILETIME untouched = ZipFileTimeFromInt64(static_cast<int64_t>(kUntouched));
    record.writeTime = untouched;
    record.accessTime = untouched;
    record.creationTime = untouched;
    ZipApplyExtendedTimes(extra, size, &record);
    CheckStamp(record.writeTime);
    CheckStamp(record.accessTime);
    CheckStamp(record.creationTime);
    const bool changed = ZipFileTimeToUint64(record.writeTime) != kUntouched ||
                         ZipFileTimeToUint64(record.accessTime) != kUntouched ||
                         ZipFileTimeToUint64(record.creationTime) != kUntouched;
    if (changed && !HasTimeBlock(extra, size)) Fail("times set without a UT block");
    free(extra);
    return 0;
}
