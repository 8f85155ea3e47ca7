#include "delivery/RangePlan.h"

#include <algorithm>

namespace qorv {

bool EntrySpans(const std::vector<PackageEntry>& entries, const std::vector<bool>& wanted,
                uint64_t directoryOffset, std::vector<ByteRange>* spans) {
    std::vector<uint64_t> starts;
    for (const PackageEntry& entry : entries) {
        if (entry.localHeaderOffset >= directoryOffset) return false;
        starts.push_back(entry.localHeaderOffset);
    }
    std::sort(starts.begin(), starts.end());
    spans->clear();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i >= wanted.size() || !wanted[i]) continue;
        const uint64_t start = entries[i].localHeaderOffset;
        const auto next = std::upper_bound(starts.begin(), starts.end(), start);
        const uint64_t end = next == starts.end() ? directoryOffset : *next;
        spans->push_back({start, end - start});
    }
    return true;
}

std::vector<ByteRange> PlanRanges(std::vector<ByteRange> spans, size_t maxRequests) {
    std::sort(spans.begin(), spans.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> ranges;
    for (const ByteRange& span : spans) {
        if (span.length == 0) continue;
        if (!ranges.empty() && span.offset <= ranges.back().offset + ranges.back().length) {
            ByteRange& last = ranges.back();
            last.length =
                std::max(last.offset + last.length, span.offset + span.length) - last.offset;
        } else {
            ranges.push_back(span);
        }
    }
    const size_t limit = std::max<size_t>(maxRequests, 1);
    while (ranges.size() > limit) {
        // The smallest gap costs the fewest extra bytes to fetch through.
        size_t join = 0;
        uint64_t smallest = UINT64_MAX;
        for (size_t i = 0; i + 1 < ranges.size(); ++i) {
            const uint64_t gap = ranges[i + 1].offset - (ranges[i].offset + ranges[i].length);
            if (gap < smallest) {
                smallest = gap;
                join = i;
            }
        }
        ranges[join].length =
            ranges[join + 1].offset + ranges[join + 1].length - ranges[join].offset;
        ranges.erase(ranges.begin() + static_cast<std::ptrdiff_t>(join) + 1);
    }
    return ranges;
}

uint64_t RangeBytes(const std::vector<ByteRange>& ranges) {
    uint64_t total = 0;
    for (const ByteRange& range : ranges) total += range.length;
    return total;
}

bool WholeDownloadIsCheaper(const std::vector<ByteRange>& ranges, uint64_t packageSize) {
    return RangeBytes(ranges) > packageSize / 2;
}

}  // namespace qorv
