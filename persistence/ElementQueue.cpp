#include "ElementQueue.h"

#include <utility>

namespace contavio {

bool ElementQueue::put(Batch batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || batches_.size() < kMostBatches; });
    if (stopped_) return false;
    batches_.push_back(std::move(batch));
    changed_.notify_all();
    return true;
}

void ElementQueue::finish(std::exception_ptr error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    error_ = std::move(error);
    finished_ = true;
    changed_.notify_all();
}

bool ElementQueue::take(Batch& batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || !batches_.empty(); });
    if (!batches_.empty()) {
        batch = std::move(batches_.front());
        batches_.pop_front();
        changed_.notify_all();
        return true;
    }
    if (error_) std::rethrow_exception(error_);
    return false;
}

void ElementQueue::stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

}  // namespace contavio
