#include "services/ClosePool.h"

#include <system_error>
#include <utility>
#include <vector>

namespace qorv {

ClosePool::~ClosePool() {
    Wait();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_work.notify_all();
    }
    for (size_t i = 0; i < m_threadCount; ++i) m_threads[i].join();
}

void ClosePool::Start() {
    m_started = true;
    for (std::thread& thread : m_threads) {
        try {
            thread = std::thread(&ClosePool::Run, this);
        } catch (const std::system_error&) {
            break;  // the threads that started serve alone
        }
        ++m_threadCount;
    }
}

void ClosePool::Commit(std::unique_ptr<TargetFile> file, bool flush, int32_t tag) {
    if (!m_started) Start();
    Job job{std::move(file), flush, tag};
    if (m_threadCount == 0) {
        Finish(job);
        return;
    }
    m_pending.push_back(std::move(job));
    if (m_pending.size() >= kClosePoolBatch) Hand();
}

void ClosePool::Hand() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_queue.empty() && m_queue.size() + m_pending.size() > kClosePoolQueue) {
        m_callerWaits = true;
        m_done.wait(lock);
    }
    for (Job& job : m_pending) m_queue.push_back(std::move(job));
    m_pending.clear();
    if (m_sleeping > 0) m_work.notify_one();
}

void ClosePool::Wait() {
    if (!m_pending.empty()) Hand();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_queue.empty() || m_busy > 0) {
        m_callerWaits = true;
        m_done.wait(lock);
    }
}

bool ClosePool::TakeFailure(Failure* failure) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure.result == TargetFile::Committed::kOk) return false;
    *failure = std::move(m_failure);
    m_failure = Failure{};
    return true;
}

void ClosePool::Run() {
    std::vector<Job> chunk;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_queue.empty()) {
            if (m_ending) return;
            ++m_sleeping;
            m_work.wait(lock);
            --m_sleeping;
            continue;
        }
        while (!m_queue.empty() && chunk.size() < kClosePoolChunk) {
            chunk.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        m_busy += chunk.size();
        // A backlog of a batch or more is another thread's too: the closes
        // are slow (a scanner's), not the writer.
        if (m_queue.size() >= kClosePoolBatch && m_sleeping > 0) m_work.notify_one();
        lock.unlock();
        for (Job& job : chunk) Finish(job);
        lock.lock();
        m_busy -= chunk.size();
        chunk.clear();
        // The caller is told only when it waits: for room, or for the end.
        if (m_callerWaits && (m_queue.size() <= kClosePoolQueue - kClosePoolBatch ||
                              (m_queue.empty() && m_busy == 0))) {
            m_callerWaits = false;
            m_done.notify_all();
        }
    }
}

void ClosePool::Finish(Job& job) {
    const TargetFile::Committed result = job.file->Commit(job.flush);
    if (result == TargetFile::Committed::kOk) {
        job.file.reset();
        return;
    }
    // The path before the file goes: what failed is deleted with it.
    std::wstring path = job.file->Written();
    job.file.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure.result == TargetFile::Committed::kOk) {
        m_failure = Failure{result, job.tag, std::move(path)};
    }
}

}  // namespace qorv
