#include "services/zip/ZipReadAhead.h"

#include <new>
#include <system_error>

#include "services/zip/ZipExtractor.h"

namespace {

// Inflating goes in steps of this size, so that a stop is heard soon.
constexpr uint32_t kStepSize = 1u << 16;

}  // namespace

ZipReadAhead::~ZipReadAhead() {
    End();
}

void ZipReadAhead::Begin(const wchar_t* archivePath, unzFile current, int32_t index,
                         int32_t entryCount) {
    if (state_ != State::Idle) return;
    state_ = State::Ended;
    if (index + 1 >= entryCount) return;
    ring_.reset(new (std::nothrow) unsigned char[kZipReadAheadBytes]);
    // The walker starts where the caller's reader stands; the threads'
    // readers go to each entry they claim.
    walker_ = ZipOpenReader(archivePath);
    unz64_file_pos position;
    bool opened = ring_ && walker_ && unzGetFilePos64(current, &position) == UNZ_OK &&
                  unzGoToFilePos64(walker_.get(), &position) == UNZ_OK;
    for (ZipReader& reader : readers_) {
        if (opened) reader = ZipOpenReader(archivePath);
        opened = opened && reader;
    }
    if (!opened) {
        End();
        return;
    }
    nextClaim_ = index + 1;
    entryCount_ = entryCount;
    nextIndex_ = index + 1;
    state_ = State::Running;
    running_ = kZipReadAheadThreads;
    for (size_t i = 0; i < kZipReadAheadThreads; ++i) {
        try {
            threads_[i] = std::thread(&ZipReadAhead::Run, this, readers_[i].get(), i > 0);
        } catch (const std::system_error&) {
            // The threads that started serve alone; with none, Take finds
            // nothing and hands everything back.
            std::lock_guard<std::mutex> lock(mutex_);
            running_ -= kZipReadAheadThreads - i;
            break;
        }
    }
}

bool ZipReadAhead::Take(int32_t index, ZipPreparedData* data) {
    if (state_ != State::Running) return false;
    if (index != nextIndex_) {
        End();
        return false;
    }
    ++nextIndex_;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!TakerMayGo()) {
        takerWaiting_ = true;
        ready_.wait(lock, [this] { return TakerMayGo(); });
        takerWaiting_ = false;
    }
    if (slotCount_ == 0) {
        // The threads stopped before index: the rest is the caller's.
        lock.unlock();
        End();
        return false;
    }
    const Slot slot = slots_[firstSlot_];
    firstSlot_ = (firstSlot_ + 1) % slots_.size();
    --slotCount_;
    if (slot.state != SlotState::Prepared) {
        // Memory reserved for an entry that failed goes back at once.
        ringStart_ = (ringStart_ + slot.size) % kZipReadAheadBytes;
        ringUsed_ -= slot.size;
        WakeFiller();
        return false;
    }
    WakeFiller();
    takenSize_ = slot.size;
    const uint32_t toEnd = kZipReadAheadBytes - slot.offset;
    data->first = ring_.get() + slot.offset;
    data->firstSize = slot.size < toEnd ? slot.size : toEnd;
    data->second = ring_.get();
    data->secondSize = slot.size - data->firstSize;
    return true;
}

void ZipReadAhead::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    ringStart_ = (ringStart_ + takenSize_) % kZipReadAheadBytes;
    ringUsed_ -= takenSize_;
    takenSize_ = 0;
    WakeFiller();
}

void ZipReadAhead::End() {
    if (state_ == State::Running) {
        stop_ = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            room_.notify_all();
            helperGate_.notify_all();
        }
        for (std::thread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }
    state_ = State::Ended;
    for (ZipReader& reader : readers_) reader.reset();
    walker_.reset();
    ring_.reset();
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
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    if (takerWaiting_) ready_.notify_one();
}

bool ZipReadAhead::HelperMayClaim() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!HelperHasRoom()) {
        helperWaiting_ = true;
        helperGate_.wait(lock, [this] { return stop_ || HelperHasRoom(); });
        helperWaiting_ = false;
    }
    return !stop_;
}

bool ZipReadAhead::ClaimNext(Claim* claim) {
    std::lock_guard<std::mutex> claimLock(claimMutex_);
    if (stop_ || claimsEnded_ || nextClaim_ >= entryCount_) return false;
    unzFile walker = walker_.get();
    unz_file_info64 info;
    if (unzGoToNextFile(walker) != UNZ_OK ||
        unzGetCurrentFileInfo64(walker, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
        unzGetFilePos64(walker, &claim->position) != UNZ_OK) {
        claimsEnded_ = true;
        return false;
    }
    claim->wanted =
        (info.flag & kZipFlagEncrypted) == 0 &&
        (info.compression_method == kZipMethodStored || info.compression_method == Z_DEFLATED) &&
        info.uncompressed_size >= kZipReadAheadSmallest &&
        info.uncompressed_size <= kZipReadAheadBytes;
    claim->size = claim->wanted ? static_cast<uint32_t>(info.uncompressed_size) : 0;
    Slot slot = {nextClaim_, claim->wanted ? SlotState::Waiting : SlotState::Callers, 0,
                 claim->size};
    if (!Reserve(&slot, &claim->slot)) return false;
    claim->offset = slot.offset;
    ++nextClaim_;
    return true;
}

bool ZipReadAhead::Reserve(Slot* slot, size_t* number) {
    std::unique_lock<std::mutex> lock(mutex_);
    fillerWants_ = slot->size;
    if (!HasRoom()) {
        fillerWaiting_ = true;
        room_.wait(lock, [this] { return stop_ || HasRoom(); });
        fillerWaiting_ = false;
    }
    if (stop_) return false;
    // The caller frees from the start, so the end of what is used stays put.
    slot->offset = (ringStart_ + ringUsed_) % kZipReadAheadBytes;
    *number = (firstSlot_ + slotCount_) % slots_.size();
    slots_[*number] = *slot;
    ++slotCount_;
    ringUsed_ += slot->size;
    if (takerWaiting_ && TakerMayGo()) ready_.notify_one();
    return true;
}

bool ZipReadAhead::Inflate(unzFile reader, uint32_t offset, uint32_t size) {
    if (unzOpenCurrentFile(reader) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return false;
    }
    uint32_t done = 0;
    for (;;) {
        if (stop_) {
            unzCloseCurrentFile(reader);
            return false;
        }
        const uint32_t at = (offset + done) % kZipReadAheadBytes;
        uint32_t step = size - done;
        if (step > kZipReadAheadBytes - at) step = kZipReadAheadBytes - at;
        if (step > kStepSize) step = kStepSize;
        const int read = unzReadCurrentFile(reader, ring_.get() + at, step);
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
    std::lock_guard<std::mutex> lock(mutex_);
    // A waiting slot is never taken, so number still holds this entry.
    slots_[number].state = prepared ? SlotState::Prepared : SlotState::Callers;
    if (takerWaiting_ && TakerMayGo()) ready_.notify_one();
}

bool ZipReadAhead::HasRoom() const {
    return slotCount_ < slots_.size() && ringUsed_ + fillerWants_ <= kZipReadAheadBytes;
}

bool ZipReadAhead::TakerMayGo() const {
    if (slotCount_ == 0) return running_ == 0;
    return slots_[firstSlot_].state != SlotState::Waiting;
}

bool ZipReadAhead::HelperHasRoom() const {
    return slotCount_ <= slots_.size() / 4 && ringUsed_ <= kZipReadAheadBytes / 4;
}

void ZipReadAhead::WakeFiller() {
    const bool halfFree = slotCount_ <= slots_.size() / 2 && ringUsed_ <= kZipReadAheadBytes / 2;
    if (fillerWaiting_ && HasRoom() && (halfFree || slotCount_ == 0)) room_.notify_one();
    if (helperWaiting_ && HelperHasRoom()) helperGate_.notify_one();
}
