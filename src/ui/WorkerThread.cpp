#include "ui/WorkerThread.h"

namespace kelvara::ui {

WorkerThread::~WorkerThread() { join(); }

bool WorkerThread::start(std::function<void()> body) {
    if (running_.load()) return false;
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
    }
    running_.store(true);
    thread_ = std::thread([this, body = std::move(body)] {
        workerId_.store(std::this_thread::get_id());
        body();
        running_.store(false);
    });
    return true;
}

void WorkerThread::pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.load()) paused_ = true;
}

void WorkerThread::resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
    }
    cv_.notify_all();
}

bool WorkerThread::paused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

void WorkerThread::checkpoint() {
    if (std::this_thread::get_id() != workerId_.load()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return !paused_; });
}

void WorkerThread::join() {
    resume();
    if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id()) thread_.join();
}

}  // namespace kelvara::ui
