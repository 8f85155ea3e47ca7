// The tail of a package as a server sends it: end records and central
// directory parsed, each entry's digest looked up, then the spans and ranges
// of every entry planned. A digest found is the 32 bytes after its block's
// header in the entry's extra; spans never run past the directory, and the
// planned ranges are sorted, disjoint, within the request bound and cover
// every span.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzFail.h"
#include "delivery/RangePlan.h"
#include "services/zip/PackageDirectory.h"

using namespace qorv;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> bytes(data, data + size);
    std::vector<qorv::PackageEntry> entries;
    qorv::DirectoryLocation location;
    if (!qorv::ReadDirectory(bytes, &entries) || !qorv::LocateDirectory(bytes, &location)) {
        return 0;
    }
    if (entries.size() != location.count) Fail("entry count differs from the end record");
    for (const qorv::PackageEntry& entry : entries) {
        qorv::Sha256Digest digest{};
        if (!qorv::EntrySha256(entry, &digest)) continue;
        const std::string block =
            std::string("SQ\x20\x00", 4) + std::string(digest.begin(), digest.end());
        if (entry.extra.find(block) == std::string::npos) Fail("a digest its extra does not hold");
    }
    std::vector<bool> wanted(entries.size());
    for (size_t i = 0; i < wanted.size(); ++i) wanted[i] = (i % 3) != 1;
    std::vector<qorv::ByteRange> spans;
    if (!qorv::EntrySpans(entries, wanted, location.offset, &spans)) return 0;
    for (const qorv::ByteRange& span : spans) {
        if (span.offset + span.length > location.offset) Fail("span past the directory");
    }
    const auto ranges = qorv::PlanRanges(spans, qorv::kMaxEntryRequests);
    if (ranges.size() > qorv::kMaxEntryRequests) Fail("more ranges than the bound");
    for (size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].offset <= ranges[i - 1].offset + ranges[i - 1].length) {
            Fail("ranges overlap, touch or are out of order");
        }
    }
    for (const qorv::ByteRange& span : spans) {
        if (span.length == 0) continue;
        bool covered = false;
        for (const qorv::ByteRange& range : ranges) {
            covered = covered || (span.offset >= range.offset &&
                                  span.offset + span.length <= range.offset + range.length);
        }
        if (!covered) Fail("a span no range covers");
    }
    return 0;
}
