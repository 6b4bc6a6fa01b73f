#pragma once
// A page's worker thread with cooperative pause: Pause makes the worker wait at its next
// stop check (checkpoint) instead of suspending it wherever it is, so it never stops
// while holding a lock; Resume lets it go on. Join is what Back and EXIT use.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvara::ui {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts body on a new thread. A finished earlier thread is joined first; false
    // while one still runs.
    bool start(std::function<void()> body);
    // A thread was started and has not been joined.
    bool exists() const { return thread_.joinable(); }
    // The body has not returned yet.
    bool running() const { return running_.load(); }

    void pause();
    // Without a prior pause this does nothing.
    void resume();
    bool paused() const;
    // Called by the worker at its stop checks: blocks while paused. On any other thread
    // it returns at once (the UI thread must never wait on its own pause).
    void checkpoint();
    // Resumes a paused worker and waits for it to end.
    void join();

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> workerId_{};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool paused_ = false;
};

}  // namespace kelvara::ui
