// Which byte ranges of a package to fetch for the entries that must be
// extracted, when the whole download would cost more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "services/zip/PackageDirectory.h"

namespace qorv {

// Range requests one delivery may make for entry data; more ranges are
// joined across their smallest gaps.
constexpr size_t kMaxEntryRequests = 16;

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The span of each entry of entries marked in wanted: from its local header
// to the next local header or the central directory, whichever comes first
// (so a data descriptor comes along). False when an entry would start past
// the directory.
bool EntrySpans(const std::vector<PackageEntry>& entries, const std::vector<bool>& wanted,
                uint64_t directoryOffset, std::vector<ByteRange>* spans);

// Sorts spans, joins touching or overlapping ones, then joins across the
// smallest gaps until at most maxRequests remain.
std::vector<ByteRange> PlanRanges(std::vector<ByteRange> spans, size_t maxRequests);

// The sum of the ranges' lengths.
uint64_t RangeBytes(const std::vector<ByteRange>& ranges);

// True when fetching the ranges would cost more than about half of a package
// of packageSize bytes: the whole download is then as cheap and simpler.
bool WholeDownloadIsCheaper(const std::vector<ByteRange>& ranges, uint64_t packageSize);

}  // namespace qorv
