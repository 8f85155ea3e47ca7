// Inflating the entries that follow the one being extracted on threads of
// its own, so that inflating overlaps with creating and writing the files.
// One reader walks the central directory and hands the entries out in index
// order; each thread inflates the ones it claimed through a reader of its
// own into a fixed budget of memory. What no thread prepares (an entry larger
// than the budget, an encrypted one, one that fails) the caller's thread
// extracts as before; a failure ends the thread that met it.
//
// It serves a caller that extracts consecutive indexes that all succeed; a
// call for any other index, or a failed extraction, ends it for good.
#pragma once

#include <minizip/unzip.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "services/zip/ZipReader.h"

namespace qorv {

// The memory for prepared data, and how many entries may wait at once.
constexpr uint32_t kZipReadAheadBytes = 8u << 20;
constexpr size_t kZipReadAheadEntries = 1024;
// Where inflating is the slower half, two threads inflating beside the
// caller's writing keep both cores of a small machine busy. Where writing is
// (under Wine every file call goes through its server), one keeps up, and a
// second would only take the processor from the caller's thread: the second
// claims only while less than a quarter of the memory and slots is in use.
constexpr size_t kZipReadAheadThreads = 2;

// An entry's data, inflated and its size and CRC-32 found right: in one or
// two pieces of the read-ahead's memory.
struct ZipPreparedData {
    const unsigned char* first = nullptr;
    uint32_t firstSize = 0;
    const unsigned char* second = nullptr;
    uint32_t secondSize = 0;
};

class ZipReadAhead {
public:
    ZipReadAhead() = default;
    ~ZipReadAhead();
    ZipReadAhead(const ZipReadAhead&) = delete;
    ZipReadAhead& operator=(const ZipReadAhead&) = delete;

    // Starts the threads on the entries after index, the entry current
    // stands on, when they have never run for this handle. An archive that
    // does not open again or a lack of memory leave everything to the caller.
    void Begin(const wchar_t* archivePath, unzFile current, int32_t index, int32_t entryCount);
    // True with index's data once a thread has prepared it; it stays valid
    // until Release. False when the caller is to extract index itself; an
    // index other than the next one ends the read-ahead.
    bool Take(int32_t index, ZipPreparedData* data);
    // Gives the memory of the data last taken back to the threads.
    void Release();
    // Stops the threads and drops what they prepared; they never start again.
    void End();

private:
    enum class State { kIdle, kRunning, kEnded };
    // kWaiting: a thread inflates it; kPrepared: its data is in the ring;
    // kCallers: the caller's thread extracts it (its memory, if any, unused).
    enum class SlotState : uint8_t { kWaiting, kPrepared, kCallers };
    struct Slot {
        int32_t index;
        SlotState state;
        uint32_t offset;  // in m_ring
        uint32_t size;
    };
    // An entry a thread claimed: where its record is, and its slot.
    struct Claim {
        unz64_file_pos position;
        size_t slot;
        uint32_t offset;
        uint32_t size;
        bool wanted;
    };
    void Run(unzFile reader, bool helper);
    // Waits until a helper may claim; false when told to stop.
    bool HelperMayClaim();
    // Moves the walker to the next entry and gives it a slot, in index
    // order; false when nothing is left to claim or when told to stop.
    bool ClaimNext(Claim* claim);
    // Waits for room for one more slot and its bytes, then appends it; false
    // when told to stop. Sets slot->offset and *number, where it went.
    bool Reserve(Slot* slot, size_t* number);
    // Inflates reader's current entry into the ring at offset; true when
    // all of size bytes arrived and the CRC-32 matched.
    bool Inflate(unzFile reader, uint32_t offset, uint32_t size);
    void Finish(size_t number, bool prepared);
    // With m_mutex held: whether a claiming thread has room for what it needs.
    bool HasRoom() const;
    // With m_mutex held: whether the caller has an answer for the next index.
    bool TakerMayGo() const;
    // With m_mutex held: whether little enough is waiting for a helper to claim.
    bool HelperHasRoom() const;
    // With m_mutex held: wakes a waiting thread once half the slots and the
    // memory are free, or none is left to take (waking it for every entry
    // taken would cost more than inflating a tiny entry), and a waiting
    // helper once it may claim.
    void WakeFiller();

    State m_state = State::kIdle;
    std::unique_ptr<unsigned char[]> m_ring;
    std::array<ZipReader, kZipReadAheadThreads> m_readers;
    std::array<std::thread, kZipReadAheadThreads> m_threads;
    std::atomic<bool> m_stop{false};

    // Guarded by m_claimMutex: the central directory's walker, the next index
    // to hand out, and whether the walk failed.
    std::mutex m_claimMutex;
    ZipReader m_walker;
    int32_t m_nextClaim = 0;
    int32_t m_entryCount = 0;
    bool m_claimsEnded = false;

    // Guarded by m_mutex: the slots in index order, the bytes they hold from
    // m_ringStart on, the threads still running, and who waits for whom (each
    // side signals only a waiting other).
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::condition_variable m_ready;
    std::condition_variable m_helperGate;
    bool m_helperWaiting = false;
    bool m_fillerWaiting = false;
    uint64_t m_fillerWants = 0;
    bool m_takerWaiting = false;
    std::array<Slot, kZipReadAheadEntries> m_slots = {};
    size_t m_firstSlot = 0;
    size_t m_slotCount = 0;
    uint32_t m_ringStart = 0;
    uint32_t m_ringUsed = 0;
    size_t m_running = 0;

    // The caller's side: the next index it may take, the size it holds.
    int32_t m_nextIndex = 0;
    uint32_t m_takenSize = 0;
};

}  // namespace qorv
