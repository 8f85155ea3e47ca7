// What the stage running a delivery sees of it: progress, the pauses before
// a broken transfer goes on, and the moment everything needed is on disk.
#pragma once

#include <cstdint>

namespace qorv {

// How much of a package a delivery fetched, for the trace.
struct FetchSummary {
    bool ranged = false;   // by ranges; else the whole download
    uint32_t entries = 0;  // to extract, of allEntries
    uint32_t allEntries = 0;
    uint64_t bytes = 0;  // fetched, of the package's allBytes
    uint64_t allBytes = 0;
};

class DeliveryObserver {
public:
    virtual ~DeliveryObserver() = default;
    // done of total bytes of what is being fetched; total 0 when unknown.
    virtual void Progress(uint64_t done, uint64_t total) = 0;
    // Waits before a transfer that broke is continued.
    virtual void Pause(uint32_t milliseconds) = 0;
    // Everything to extract is on disk; the unpack comes next.
    virtual void Fetched(const FetchSummary& summary) = 0;
};

}  // namespace qorv
