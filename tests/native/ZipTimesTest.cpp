#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "services/zip/ZipTimes.h"

using namespace qorv;

namespace {

uint64_t Value(const FILETIME& time) {
    return ZipFileTimeToUint64(time);
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = getenv("TZ")) m_saved = old, m_hadZone = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_hadZone) {
            setenv("TZ", m_saved.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string m_saved;
    bool m_hadZone = false;
};

uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<uint64_t>(timegm(&parts)) * 10000000 + 0x019DB1DED53E8000ULL;
}

TEST(ZipDosTime, IsLocalTimeTurnedIntoUtcWithTheOffsetInForceNow) {
    const uint32_t stamp = 0x50A21883;  // 2020-05-02 03:04:06
    {
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(Value(ZipDosTimeToFileTime(stamp)), UtcFileTime(2020, 5, 2, 3, 4, 6));
    }
    {
        ScopedTimeZone zone("EST5");  // five hours west of UTC, no daylight saving
        EXPECT_EQ(Value(ZipDosTimeToFileTime(stamp)), UtcFileTime(2020, 5, 2, 8, 4, 6));
    }
    ScopedTimeZone zone("UTC0");
    // Leap day 2024-02-29 23:59:58.
    const uint32_t leap =
        ((2024 - 1980) << 25) | (2 << 21) | (29 << 16) | (23 << 11) | (59 << 5) | 29;
    EXPECT_EQ(Value(ZipDosTimeToFileTime(leap)), UtcFileTime(2024, 2, 29, 23, 59, 58));
}

TEST(ZipDosTime, InvalidCalendarValuesGiveZero) {
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(Value(ZipDosTimeToFileTime(0)), 0u);  // month 0, day 0
    const uint32_t date2021 = ((2021 - 1980) << 9);
    EXPECT_EQ(Value(ZipDosTimeToFileTime(((date2021 | (2 << 5) | 29) << 16))), 0u);  // 02-29
    EXPECT_EQ(Value(ZipDosTimeToFileTime(((date2021 | (13 << 5) | 1) << 16))), 0u);  // month 13
    const uint32_t day = (date2021 | (1 << 5) | 1) << 16;
    EXPECT_EQ(Value(ZipDosTimeToFileTime(day | (24 << 11))), 0u);  // hour 24
    EXPECT_EQ(Value(ZipDosTimeToFileTime(day | (60 << 5))), 0u);   // minute 60
    EXPECT_EQ(Value(ZipDosTimeToFileTime(day | 30)), 0u);          // second 60
    EXPECT_NE(Value(ZipDosTimeToFileTime(day | 29)), 0u);          // second 58
}

TEST(ZipExtendedTimes, FollowTheFlagsAndKeepMissingTimes) {
    EXPECT_EQ(Value(ZipUnixTimeToFileTime(0)), 0x019DB1DED53E8000u);
    EXPECT_EQ(Value(ZipUnixTimeToFileTime(-1)), 0x019DB1DED4A5E980u);

    const FILETIME dos = ZipFileTimeFromInt64(42);
    ZipEntryInfo record = {};
    record.writeTime = record.accessTime = record.creationTime = dos;
    // An unrelated block first, then "UT" with write and creation times only.
    const unsigned char extra[] = {'x', 'y', 2, 0, 9, 9,    'U',  'T',  9,   0,
                                   5,   0,   0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    ZipApplyExtendedTimes(extra, sizeof(extra), &record);
    EXPECT_EQ(Value(record.writeTime), 0x019DB1DED53E8000u);
    EXPECT_EQ(Value(record.accessTime), 42u);
    EXPECT_EQ(Value(record.creationTime), 0x019DB1DED4A5E980u);
}

TEST(ZipExtendedTimes, StampsRunningPastTheFieldAreIgnored) {
    ZipEntryInfo record = {};
    record.writeTime = record.accessTime = record.creationTime = ZipFileTimeFromInt64(42);
    // Flags 3 promise two stamps; the field ends inside the second one.
    const unsigned char extra[] = {'U', 'T', 9, 0, 3, 1, 0, 0, 0, 7, 7};
    ZipApplyExtendedTimes(extra, sizeof(extra), &record);
    EXPECT_EQ(Value(record.writeTime), 0x019DB1DED53E8000u + 10000000u);
    EXPECT_EQ(Value(record.accessTime), 42u);
    // A block size that points past the end stops the scan.
    const unsigned char skipped[] = {'a', 'b', 0xFF, 0xFF, 'U', 'T', 5, 0, 1, 0, 0, 0, 0};
    ZipApplyExtendedTimes(skipped, sizeof(skipped), &record);
    EXPECT_EQ(Value(record.writeTime), 0x019DB1DED53E8000u + 10000000u);
    // Only the first "UT" block counts.
    const unsigned char twice[] = {'U', 'T', 1, 0, 0, 'U', 'T', 5, 0, 1, 9, 0, 0, 0};
    ZipApplyExtendedTimes(twice, sizeof(twice), &record);
    EXPECT_EQ(Value(record.writeTime), 0x019DB1DED53E8000u + 10000000u);
}

}  // namespace
