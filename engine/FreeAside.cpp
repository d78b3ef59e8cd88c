#include "FreeAside.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "Worker.h"

namespace contavio {
namespace {

// Set once the freeing thread has been stopped at the program's end; from
// then on callers free what they would hand over.
std::atomic<bool> gStopped{false};

class FreeingThread {
  public:
    FreeingThread() = default;
    FreeingThread(const FreeingThread&) = delete;
    FreeingThread& operator=(const FreeingThread&) = delete;

    // Frees what is still queued, then ends the thread.
    ~FreeingThread() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            gStopped = true;
        }
        queued_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // False when no thread can be had, or too much waits already: the
    // caller frees it.
    bool take(std::unique_ptr<Garbage>& garbage) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || waiting_ >= std::max(kFreeAsideMost, 6 * largest_)) return false;
        if (!thread_.joinable()) {
            try {
                thread_ = startWorker([this] { run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        waiting_ += garbage->bytes;
        largest_ = std::max(largest_, garbage->bytes);
        queue_.push_back(std::move(garbage));
        lastHanded_ = std::chrono::steady_clock::now();
        queued_.notify_one();
        return true;
    }

    void finish() {
        std::unique_lock<std::mutex> lock(mutex_);
        hurry_ = true;
        queued_.notify_all();
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
        hurry_ = false;
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, and nothing left
            // The caller that handed something over is usually still at work
            // (a search hands its old results over, then lists): freeing
            // while it runs would slow it down. So the freeing waits until
            // nothing has been handed over for a moment - unless so much
            // waits that searches in a row would pile it up.
            const auto quiet = [this] {
                return stopping_ || hurry_ ||
                       waiting_ > std::max(kFreeAsidePatient, 3 * largest_) ||
                       std::chrono::steady_clock::now() >= lastHanded_ + kQuiet;
            };
            while (!quiet()) queued_.wait_until(lock, lastHanded_ + kQuiet);
            std::unique_ptr<Garbage> next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            const std::size_t bytes = next->bytes;
            next.reset();
            lock.lock();
            waiting_ -= bytes;
            busy_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
    }

    static constexpr std::chrono::milliseconds kQuiet{150};

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable idle_;
    std::chrono::steady_clock::time_point lastHanded_;
    bool busy_ = false;        // freeing one, outside the lock
    bool hurry_ = false;       // someone waits for the queue to empty
    std::size_t waiting_ = 0;  // bytes queued or being freed
    std::size_t largest_ = 0;  // the most bytes handed over at once
    std::deque<std::unique_ptr<Garbage>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

FreeingThread& freeingThread() {
    static FreeingThread freeing;
    return freeing;
}

}  // namespace

void freeAside(std::unique_ptr<Garbage> garbage) {
    if (!garbage || gStopped) return;  // freed here
    freeingThread().take(garbage);     // left with the caller, and freed here, when refused
}

std::size_t asideBytes(const std::string& text) {
    return sizeof text + (text.capacity() > std::string().capacity() ? text.capacity() + 1 : 0);
}

std::size_t asideBytes(const std::vector<std::string>& texts) {
    const std::size_t n = texts.size();
    if (n == 0) return sizeof texts;
    const std::size_t samples = std::min<std::size_t>(n, 64);
    std::size_t sampled = 0;
    for (std::size_t k = 0; k < samples; ++k) sampled += asideBytes(texts[k * n / samples]);
    return sizeof texts + sampled * n / samples;
}

void finishFreeingAside() {
    if (!gStopped) freeingThread().finish();
}

}  // namespace contavio
