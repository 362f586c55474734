#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tn {

// A worker thread that runs the object's run() until asked to stop. A stop never kills the
// worker: it clears the run flag, wakes the worker and waits for it to return.
class CThread {
public:
    CThread() = default;
    // A derived class whose run() uses its own members must stop the worker in its own
    // destructor; this one only joins whatever is left.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Sets the run flag and starts the worker; the exit code is -1 until it returns.
    void start();
    // Clears the run flag, wakes the worker and waits for it; returns the exit code (0 once the
    // worker has returned). The worker is waited for even past `timeout_ms`: it may hold the
    // capture device, which must not be closed under it.
    int stop(int timeout_ms);
    // Waits for a worker that ends by itself (a capture file read to its end).
    int waitForExit();
    bool hasThread() const { return m_thread.joinable(); }
    int exitCode() const { return m_exitCode.load(std::memory_order_acquire); }

protected:
    virtual void run() = 0;
    // Called by stop() after the run flag is cleared, to interrupt a blocking read.
    virtual void wakeUp() {}
    bool runFlag() const { return m_run.load(std::memory_order_acquire) != 0; }

private:
    void threadMain();
    int join();

    std::thread m_thread;
    std::atomic<int> m_run{0};
    std::atomic<int> m_exitCode{0};
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
};

} // namespace tn
