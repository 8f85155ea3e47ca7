#include "services/zip/ZipReadAhead.h"

#include <new>
#include <system_error>

#include "services/zip/ZipExtractor.h"

namespace qorv {

namespace {

// Inflating goes in steps of this size, so that a stop is heard soon.
constexpr uint32_t kStepSize = 1u << 16;

}  // namespace

ZipReadAhead::~ZipReadAhead() {
    End();
}

void ZipReadAhead::Begin(const wchar_t* archivePath, unzFile current, int32_t index,
                         int32_t entryCount) {
    if (m_state != State::kIdle) return;
    m_state = State::kEnded;
    if (index + 1 >= entryCount) return;
    m_ring.reset(new (std::nothrow) unsigned char[kZipReadAheadBytes]);
    // The walker starts where the caller's reader stands; the threads'
    // readers go to each entry they claim.
    m_walker = ZipOpenReader(archivePath);
    unz64_file_pos position;
    bool opened = m_ring && m_walker && unzGetFilePos64(current, &position) == UNZ_OK &&
                  unzGoToFilePos64(m_walker.get(), &position) == UNZ_OK;
    for (ZipReader& reader : m_readers) {
        if (opened) reader = ZipOpenReader(archivePath);
        opened = opened && reader;
    }
    if (!opened) {
        End();
        return;
    }
    m_nextClaim = index + 1;
    m_entryCount = entryCount;
    m_nextIndex = index + 1;
    m_state = State::kRunning;
    m_running = kZipReadAheadThreads;
    for (size_t i = 0; i < kZipReadAheadThreads; ++i) {
        try {
            m_threads[i] = std::thread(&ZipReadAhead::Run, this, m_readers[i].get(), i > 0);
        } catch (const std::system_error&) {
            // The threads that started serve alone; with none, Take finds
            // nothing and hands everything back.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running -= kZipReadAheadThreads - i;
            break;
        }
    }
}

bool ZipReadAhead::Take(int32_t index, ZipPreparedData* data) {
    if (m_state != State::kRunning) return false;
    if (index != m_nextIndex) {
        End();
        return false;
    }
    ++m_nextIndex;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!TakerMayGo()) {
        m_takerWaiting = true;
        m_ready.wait(lock, [this] { return TakerMayGo(); });
        m_takerWaiting = false;
    }
    if (m_slotCount == 0) {
        // The threads stopped before index: the rest is the caller's.
        lock.unlock();
        End();
        return false;
    }
    const Slot slot = m_slots[m_firstSlot];
    m_firstSlot = (m_firstSlot + 1) % m_slots.size();
    --m_slotCount;
    if (slot.state != SlotState::kPrepared) {
        // Memory reserved for an entry that failed goes back at once.
        m_ringStart = (m_ringStart + slot.size) % kZipReadAheadBytes;
        m_ringUsed -= slot.size;
        WakeFiller();
        return false;
    }
    WakeFiller();
    m_takenSize = slot.size;
    const uint32_t toEnd = kZipReadAheadBytes - slot.offset;
    data->first = m_ring.get() + slot.offset;
    data->firstSize = slot.size < toEnd ? slot.size : toEnd;
    data->second = m_ring.get();
    data->secondSize = slot.size - data->firstSize;
    return true;
}

void ZipReadAhead::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ringStart = (m_ringStart + m_takenSize) % kZipReadAheadBytes;
    m_ringUsed -= m_takenSize;
    m_takenSize = 0;
    WakeFiller();
}

void ZipReadAhead::End() {
    if (m_state == State::kRunning) {
        m_stop = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_room.notify_all();
            m_helperGate.notify_all();
        }
        for (std::thread& thread : m_threads) {
            if (thread.joinable()) thread.join();
        }
    }
    m_state = State::kEnded;
    for (ZipReader& reader : m_readers) reader.reset();
    m_walker.reset();
    m_ring.reset();
}

void ZipReadAhead::Run(unzFile reader, bool helper) {
    Claim claim;
    while ((!helper || HelperMayClaim()) && ClaimNext(&claim)) {
        if (!claim.wanted) continue;
        const bool prepared = unzGoToFilePos64(reader, &claim.position) == UNZ_OK &&
                              Inflate(reader, claim.offset, claim.size);
        Finish(claim.slot, prepared);
        // The caller meets the same fault on its own thread, with its code.
        if (!prepared) break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_running;
    if (m_takerWaiting) m_ready.notify_one();
}

bool ZipReadAhead::HelperMayClaim() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!HelperHasRoom()) {
        m_helperWaiting = true;
        m_helperGate.wait(lock, [this] { return m_stop || HelperHasRoom(); });
        m_helperWaiting = false;
    }
    return !m_stop;
}

bool ZipReadAhead::ClaimNext(Claim* claim) {
    std::lock_guard<std::mutex> claimLock(m_claimMutex);
    if (m_stop || m_claimsEnded || m_nextClaim >= m_entryCount) return false;
    unzFile walker = m_walker.get();
    unz_file_info64 info;
    if (unzGoToNextFile(walker) != UNZ_OK ||
        unzGetCurrentFileInfo64(walker, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
        unzGetFilePos64(walker, &claim->position) != UNZ_OK) {
        m_claimsEnded = true;
        return false;
    }
    claim->wanted =
        (info.flag & kZipFlagEncrypted) == 0 &&
        (info.compression_method == kZipMethodStored || info.compression_method == Z_DEFLATED) &&
        info.uncompressed_size <= kZipReadAheadBytes;
    claim->size = claim->wanted ? static_cast<uint32_t>(info.uncompressed_size) : 0;
    Slot slot = {m_nextClaim, claim->wanted ? SlotState::kWaiting : SlotState::kCallers, 0,
                 claim->size};
    if (!Reserve(&slot, &claim->slot)) return false;
    claim->offset = slot.offset;
    ++m_nextClaim;
    return true;
}

bool ZipReadAhead::Reserve(Slot* slot, size_t* number) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_fillerWants = slot->size;
    if (!HasRoom()) {
        m_fillerWaiting = true;
        m_room.wait(lock, [this] { return m_stop || HasRoom(); });
        m_fillerWaiting = false;
    }
    if (m_stop) return false;
    // The caller frees from the start, so the end of what is used stays put.
    slot->offset = (m_ringStart + m_ringUsed) % kZipReadAheadBytes;
    *number = (m_firstSlot + m_slotCount) % m_slots.size();
    m_slots[*number] = *slot;
    ++m_slotCount;
    m_ringUsed += slot->size;
    if (m_takerWaiting && TakerMayGo()) m_ready.notify_one();
    return true;
}

bool ZipReadAhead::Inflate(unzFile reader, uint32_t offset, uint32_t size) {
    if (unzOpenCurrentFile(reader) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return false;
    }
    uint32_t done = 0;
    for (;;) {
        if (m_stop) {
            unzCloseCurrentFile(reader);
            return false;
        }
        const uint32_t at = (offset + done) % kZipReadAheadBytes;
        uint32_t step = size - done;
        if (step > kZipReadAheadBytes - at) step = kZipReadAheadBytes - at;
        if (step > kStepSize) step = kStepSize;
        const int read = unzReadCurrentFile(reader, m_ring.get() + at, step);
        if (read > 0) {
            done += static_cast<uint32_t>(read);
            continue;
        }
        // As on the caller's path: the end of the data, then the CRC-32 check
        // when the data is closed.
        const bool atEnd = read == 0 && unzeof(reader) == 1;
        const int closed = unzCloseCurrentFile(reader);
        return atEnd && closed == UNZ_OK && done == size;
    }
}

void ZipReadAhead::Finish(size_t number, bool prepared) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A waiting slot is never taken, so number still holds this entry.
    m_slots[number].state = prepared ? SlotState::kPrepared : SlotState::kCallers;
    if (m_takerWaiting && TakerMayGo()) m_ready.notify_one();
}

bool ZipReadAhead::HasRoom() const {
    return m_slotCount < m_slots.size() && m_ringUsed + m_fillerWants <= kZipReadAheadBytes;
}

bool ZipReadAhead::TakerMayGo() const {
    if (m_slotCount == 0) return m_running == 0;
    return m_slots[m_firstSlot].state != SlotState::kWaiting;
}

bool ZipReadAhead::HelperHasRoom() const {
    return m_slotCount <= m_slots.size() / 4 && m_ringUsed <= kZipReadAheadBytes / 4;
}

void ZipReadAhead::WakeFiller() {
    const bool halfFree = m_slotCount <= m_slots.size() / 2 && m_ringUsed <= kZipReadAheadBytes / 2;
    if (m_fillerWaiting && HasRoom() && (halfFree || m_slotCount == 0)) m_room.notify_one();
    if (m_helperWaiting && HelperHasRoom()) m_helperGate.notify_one();
}

}  // namespace qorv
