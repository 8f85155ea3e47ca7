#include "services/zip/ZipReadAhead.h"

#include <new>
#include <system_error>

#include "services/zip/ZipArchiveFile.h"

namespace {

constexpr unsigned long kFlagEncrypted = 0x01;
constexpr unsigned long kMethodStored = 0;
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
    if (!ring_) return;
    zlib_filefunc64_def functions;
    ZipFillArchiveFunctions(&functions);
    reader_.reset(unzOpen2_64(archivePath, &functions));
    // The second reader starts where the caller's stands.
    unz64_file_pos position;
    if (!reader_ || unzGetFilePos64(current, &position) != UNZ_OK ||
        unzGoToFilePos64(reader_.get(), &position) != UNZ_OK) {
        reader_.reset();
        ring_.reset();
        return;
    }
    nextIndex_ = index + 1;
    try {
        thread_ = std::thread(&ZipReadAhead::Run, this, index + 1, entryCount);
    } catch (const std::system_error&) {
        reader_.reset();
        ring_.reset();
        return;
    }
    state_ = State::Running;
}

bool ZipReadAhead::Take(int32_t index, ZipPreparedData* data) {
    if (state_ != State::Running) return false;
    if (index != nextIndex_) {
        End();
        return false;
    }
    ++nextIndex_;
    std::unique_lock<std::mutex> lock(mutex_);
    if (slotCount_ == 0 && !finished_) {
        takerWaiting_ = true;
        ready_.wait(lock, [this] { return slotCount_ > 0 || finished_; });
        takerWaiting_ = false;
    }
    if (slotCount_ == 0) {
        // The thread stopped before index: the rest is the caller's.
        lock.unlock();
        End();
        return false;
    }
    const Slot slot = slots_[firstSlot_];
    firstSlot_ = (firstSlot_ + 1) % slots_.size();
    --slotCount_;
    WakeFiller();
    if (!slot.prepared) return false;
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
            room_.notify_one();
        }
        thread_.join();
    }
    state_ = State::Ended;
    reader_.reset();
    ring_.reset();
}

void ZipReadAhead::Run(int32_t first, int32_t entryCount) {
    unzFile reader = reader_.get();
    for (int32_t index = first; index < entryCount && !stop_; ++index) {
        unz_file_info64 info;
        if (unzGoToNextFile(reader) != UNZ_OK ||
            unzGetCurrentFileInfo64(reader, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            break;
        }
        const bool wanted =
            (info.flag & kFlagEncrypted) == 0 &&
            (info.compression_method == kMethodStored || info.compression_method == Z_DEFLATED) &&
            info.uncompressed_size >= kZipReadAheadSmallest &&
            info.uncompressed_size <= kZipReadAheadBytes;
        Slot slot = {index, wanted, 0, wanted ? static_cast<uint32_t>(info.uncompressed_size) : 0};
        if (!Reserve(slot.size, &slot.offset)) break;
        if (wanted && !Inflate(slot.offset, slot.size)) break;
        Publish(slot);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    if (takerWaiting_) ready_.notify_one();
}

bool ZipReadAhead::Reserve(uint64_t size, uint32_t* offset) {
    std::unique_lock<std::mutex> lock(mutex_);
    fillerWants_ = size;
    if (!HasRoom()) {
        fillerWaiting_ = true;
        room_.wait(lock, [this] { return stop_ || HasRoom(); });
        fillerWaiting_ = false;
    }
    // The caller frees from the start, so the end of what is used stays put.
    *offset = (ringStart_ + ringUsed_) % kZipReadAheadBytes;
    return !stop_;
}

bool ZipReadAhead::Inflate(uint32_t offset, uint32_t size) {
    unzFile reader = reader_.get();
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

void ZipReadAhead::Publish(const Slot& slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[(firstSlot_ + slotCount_) % slots_.size()] = slot;
    ++slotCount_;
    ringUsed_ += slot.size;
    if (takerWaiting_) ready_.notify_one();
}

bool ZipReadAhead::HasRoom() const {
    return slotCount_ < slots_.size() && ringUsed_ + fillerWants_ <= kZipReadAheadBytes;
}

void ZipReadAhead::WakeFiller() {
    const bool halfFree = slotCount_ <= slots_.size() / 2 && ringUsed_ <= kZipReadAheadBytes / 2;
    if (fillerWaiting_ && HasRoom() && (halfFree || slotCount_ == 0)) room_.notify_one();
}
