#include "services/ClosePool.h"

#include <system_error>
#include <utility>

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
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_queue.size() >= kClosePoolQueue) {
        m_callerWaits = true;
        m_done.wait(lock);
    }
    m_queue.push_back(std::move(job));
    if (m_sleeping > 0 && m_queue.size() >= kClosePoolBatch) m_work.notify_one();
}

void ClosePool::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // Files short of a batch wait for a thread too.
    if (!m_queue.empty()) m_work.notify_all();
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
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_queue.empty()) {
            if (m_ending) return;
            ++m_sleeping;
            m_work.wait(lock);
            --m_sleeping;
            continue;
        }
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_busy;
        // A thread that is behind asks another for help.
        if (m_sleeping > 0 && m_queue.size() >= kClosePoolBatch) m_work.notify_one();
        lock.unlock();
        Finish(job);
        lock.lock();
        --m_busy;
        // The caller is told only when it waits: of room, or of the end.
        if (m_callerWaits &&
            (m_queue.size() < kClosePoolQueue / 2 || (m_queue.empty() && m_busy == 0))) {
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
