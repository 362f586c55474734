#include "capture/thread.h"

#include <chrono>

namespace tn {

CThread::~CThread() {
    m_run.store(0, std::memory_order_release);
    join();
}

void CThread::start() {
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_finished = false;
    }
    m_run.store(1, std::memory_order_release);
    m_exitCode.store(-1, std::memory_order_release);
    m_thread = std::thread(&CThread::threadMain, this);
}

void CThread::threadMain() {
    run();
    m_exitCode.store(0, std::memory_order_release);
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_done.notify_all();
}

int CThread::stop(int timeout_ms) {
    if (!m_thread.joinable())
        return exitCode();
    m_run.store(0, std::memory_order_release);
    wakeUp();
    {
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [this] { return m_finished; })) {
            lock.unlock();
            wakeUp(); // the first wake-up may have come before the worker began its read
        }
    }
    return join();
}

int CThread::waitForExit() {
    return join();
}

int CThread::join() {
    if (m_thread.joinable())
        m_thread.join();
    return exitCode();
}

} // namespace tn
