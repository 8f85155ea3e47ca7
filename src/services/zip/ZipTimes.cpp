#include "services/zip/ZipTimes.h"

#include "services/zip/LittleEndian.h"

#ifndef _WIN32
#include <ctime>
#endif

namespace qorv {

namespace {

#ifndef _WIN32
bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const int64_t era = year / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Seconds east of UTC in force now, as the local-to-UTC conversion of the
// Windows build applies it whatever the stamped date.
int64_t CurrentUtcOffsetSeconds() {
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}
#endif

}  // namespace

FILETIME ZipFileTimeFromInt64(int64_t value) {
    const auto bits = static_cast<uint64_t>(value);
    FILETIME time;
    time.dwLowDateTime = static_cast<uint32_t>(bits);
    time.dwHighDateTime = static_cast<uint32_t>(bits >> 32);
    return time;
}

uint64_t ZipFileTimeToUint64(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME ZipDosTimeToFileTime(uint32_t dosDateTime) {
    const uint32_t date = dosDateTime >> 16;
    const uint32_t clock = dosDateTime & 0xFFFF;
    const int year = static_cast<int>(date >> 9) + 1980;
    const int month = static_cast<int>((date >> 5) & 15);
    const int day = static_cast<int>(date & 31);
    const int hour = static_cast<int>(clock >> 11);
    const int minute = static_cast<int>((clock >> 5) & 63);
    const int second = static_cast<int>(clock & 31) * 2;
    const FILETIME zero = {0, 0};
#ifdef _WIN32
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    FILETIME localTime;
    FILETIME utc;
    if (!SystemTimeToFileTime(&local, &localTime) || !LocalFileTimeToFileTime(&localTime, &utc)) {
        return zero;
    }
    return utc;
#else
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return zero;
    }
    const int64_t localSeconds =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    const int64_t utcSeconds = localSeconds - CurrentUtcOffsetSeconds();
    return ZipFileTimeFromInt64(utcSeconds * 10000000 + kZipUnixEpochFileTime);
#endif
}

FILETIME ZipUnixTimeToFileTime(int32_t seconds) {
    return ZipFileTimeFromInt64(int64_t{seconds} * 10000000 + kZipUnixEpochFileTime);
}

void ZipApplyExtendedTimes(const unsigned char* extra, size_t length, ZipEntryInfo* record) {
    constexpr size_t kStampSize = 4;
    size_t p = 0;
    while (p + 4 < length) {
        if (extra[p] != kZipExtendedTimeId[0] || extra[p + 1] != kZipExtendedTimeId[1]) {
            p += 4 + ZipRead16(extra + p + 2);
            continue;
        }
        const unsigned flags = extra[p + 4];
        p += 5;
        FILETIME* const stamps[] = {&record->writeTime, &record->accessTime, &record->creationTime};
        for (unsigned bit = 0; bit < 3; ++bit) {
            if ((flags & (1u << bit)) == 0) continue;
            if (p + kStampSize > length) return;
            *stamps[bit] = ZipUnixTimeToFileTime(static_cast<int32_t>(ZipRead32(extra + p)));
            p += kStampSize;
        }
        return;
    }
}

}  // namespace qorv
