// Committing written files (flush, close, move into place) on a few threads
// of their own. Where a virus scanner checks each new file as it is closed
// (1-10 ms a file on Windows), the closes then overlap with writing the next
// files instead of adding up on the writer's thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "services/TargetFile.h"

namespace qorv {

constexpr size_t kClosePoolThreads = 4;
// Files are handed to the threads this many at a time, and a thread takes up
// to kClosePoolChunk of them at once: a lock and a wake-up for every file
// would cost the writer more than closing a tiny file does.
constexpr size_t kClosePoolBatch = 32;
constexpr size_t kClosePoolChunk = 8;
// Files handed over and not yet taken by a thread, each with its handle open.
constexpr size_t kClosePoolQueue = 4 * kClosePoolBatch;

class ClosePool {
public:
    // The first file that failed since the last Wait.
    struct Failure {
        TargetFile::Committed result = TargetFile::Committed::kOk;
        int32_t tag = -1;   // the caller's name for the file
        std::wstring path;  // where its bytes were written
    };

    ClosePool() = default;
    // Waits for every file handed over; the threads end.
    ~ClosePool();
    ClosePool(const ClosePool&) = delete;
    ClosePool& operator=(const ClosePool&) = delete;

    // Commits file, flushed first when flush is set, on a thread of the
    // pool (started with the first file; on the caller's thread where none
    // starts). Waits while kClosePoolQueue files wait.
    void Commit(std::unique_ptr<TargetFile> file, bool flush, int32_t tag);
    // Waits until every file handed over is committed.
    void Wait();
    // The first failure since the last call; false when there was none.
    bool TakeFailure(Failure* failure);

private:
    struct Job {
        std::unique_ptr<TargetFile> file;
        bool flush;
        int32_t tag;
    };
    void Start();
    // Moves the caller's files to the queue, waiting for room.
    void Hand();
    void Run();
    // Commits job's file and keeps its failure when it is the first.
    void Finish(Job& job);

    bool m_started = false;
    size_t m_threadCount = 0;
    std::array<std::thread, kClosePoolThreads> m_threads;
    // The caller's files not yet handed over.
    std::deque<Job> m_pending;

    // Guarded by m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_work;  // files wait, or the pool ends
    std::condition_variable m_done;  // room in the queue, or nothing left
    std::deque<Job> m_queue;
    size_t m_busy = 0;      // files being committed
    size_t m_sleeping = 0;  // threads waiting for work
    bool m_callerWaits = false;
    bool m_ending = false;
    Failure m_failure;
};

}  // namespace qorv
