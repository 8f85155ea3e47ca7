// Inflating the entries that follow the one being extracted on a second
// thread, so that inflating overlaps with creating and writing the files.
// The thread reads the archive through a reader of its own, in index order,
// into a fixed budget of memory. What it does not prepare (an entry larger
// than the budget, an encrypted one, one it cannot read) the caller's thread
// extracts as before; a failure ends the thread.
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

// The memory for prepared data, and how many entries may wait at once.
constexpr uint32_t kZipReadAheadBytes = 8u << 20;
constexpr size_t kZipReadAheadEntries = 1024;
// Smaller entries cost a second reader more seeks and reads than inflating
// them saves: the caller's thread keeps them, as without read-ahead.
constexpr uint32_t kZipReadAheadSmallest = 4u << 10;

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

    // Starts the thread on the entries after index, the entry current stands
    // on, when it has never run for this handle. An archive that does not
    // open again or a lack of memory leave everything to the caller.
    void Begin(const wchar_t* archivePath, unzFile current, int32_t index, int32_t entryCount);
    // True with index's data once the thread has prepared it; it stays valid
    // until Release. False when the caller is to extract index itself; an
    // index other than the next one ends the read-ahead.
    bool Take(int32_t index, ZipPreparedData* data);
    // Gives the memory of the data last taken back to the thread.
    void Release();
    // Stops the thread and drops what it prepared; it never starts again.
    void End();

private:
    enum class State { Idle, Running, Ended };
    struct Slot {
        int32_t index;
        bool prepared;
        uint32_t offset;  // in ring_
        uint32_t size;
    };
    struct ReaderCloser {
        void operator()(void* reader) const { unzClose(reader); }
    };

    void Run(int32_t first, int32_t entryCount);
    // Waits for room for one more slot and, unless size is 0, for size
    // bytes; false when told to stop. Sets *offset to where the bytes go.
    bool Reserve(uint64_t size, uint32_t* offset);
    // Inflates the current entry of reader_ into the ring at offset; true
    // when all of size bytes arrived and the CRC-32 matched.
    bool Inflate(uint32_t offset, uint32_t size);
    void Publish(const Slot& slot);
    // With mutex_ held: whether the thread has room for what it waits for.
    bool HasRoom() const;
    // With mutex_ held: wakes a waiting thread once half the slots and the
    // memory are free, or none is left to take. Waking it for every entry
    // taken would cost more than inflating a tiny entry.
    void WakeFiller();

    State state_ = State::Idle;
    std::unique_ptr<void, ReaderCloser> reader_;
    std::unique_ptr<unsigned char[]> ring_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    // Guarded by mutex_: the slots waiting in index order, the bytes they
    // hold from ringStart_ on, whether the thread has finished, and who waits
    // for whom (each side signals only a waiting other).
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable ready_;
    bool fillerWaiting_ = false;
    uint64_t fillerWants_ = 0;
    bool takerWaiting_ = false;
    std::array<Slot, kZipReadAheadEntries> slots_ = {};
    size_t firstSlot_ = 0;
    size_t slotCount_ = 0;
    uint32_t ringStart_ = 0;
    uint32_t ringUsed_ = 0;
    bool finished_ = false;

    // The caller's side: the next index it may take, the size it holds.
    int32_t nextIndex_ = 0;
    uint32_t takenSize_ = 0;
};
