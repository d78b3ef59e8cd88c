#include "LineSpool.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "DataFiles.h"
#include "UEncrypt.h"
#include "engine/Worker.h"

namespace contavio {

namespace {

constexpr size_t kBatchBytes = size_t{1} << 18;  // plain text per batch, about
constexpr size_t kBatchesInFlight = 4;           // handed and not yet written, at most
constexpr size_t kBlockSize = size_t{1} << 20;   // bytes per write(2), about

}  // namespace

LineSpool::LineSpool(int fd, FileLayer& layer, int32_t key, bool large)
    : fd_(fd), layer_(layer), key_(key), current_(std::make_unique<Batch>()) {
    out_.reserve(kBlockSize + kBatchBytes);
    if (!large) return;
    try {
        writer_ = startWorker([this] { writeAll(); });
    } catch (const std::system_error&) {
        // No thread to be had: the caller enciphers and writes each line as
        // it comes, as it does for a small file.
    }
}

LineSpool::~LineSpool() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
}

void LineSpool::line(std::string_view text) {
    if (!writer_.joinable()) {
        encipher(text);  // on this thread, straight into the block
        return;
    }
    current_->text.append(text);
    current_->sizes.push_back(text.size());
    if (current_->text.size() >= kBatchBytes) hand();
}

// Queues the current batch and takes a spare one, waiting while the writing
// thread is kBatchesInFlight batches behind.
void LineSpool::hand() {
    std::unique_lock lock(mutex_);
    ready_.push_back(std::move(current_));
    ++inFlight_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return inFlight_ < kBatchesInFlight || done_; });
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
        current_->text.clear();
        current_->sizes.clear();
    } else {
        current_ = std::make_unique<Batch>();
    }
    if (failure_) std::rethrow_exception(failure_);
}

void LineSpool::finish() {
    if (!writer_.joinable()) {
        write(out_.data(), out_.size());
        out_.clear();
        return;
    }
    std::unique_lock lock(mutex_);
    ready_.push_back(std::move(current_));
    ++inFlight_;
    closing_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return done_; });
    if (failure_) std::rethrow_exception(failure_);
}

// ------------------------------------------------------- the writing thread

std::unique_ptr<LineSpool::Batch> LineSpool::take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || !ready_.empty() || closing_; });
    if (stop_ || ready_.empty()) return nullptr;
    std::unique_ptr<Batch> batch = std::move(ready_.front());
    ready_.pop_front();
    return batch;
}

void LineSpool::giveBack(std::unique_ptr<Batch> batch) {
    {
        const std::lock_guard lock(mutex_);
        spare_.push_back(std::move(batch));
        --inFlight_;
    }
    changed_.notify_all();
}

void LineSpool::write(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t done = layer_.write(fd_, data, size);
        if (done > 0) {
            data += done;
            size -= static_cast<size_t>(done);
        } else if (done == 0) {
            throw FileError(std::strerror(ENOSPC));
        } else if (errno != EINTR) {
            throw FileError(std::strerror(errno));
        }
    }
}

// Enciphers one line into out_ and hands out_ to the file once it holds a
// block.
void LineSpool::encipher(std::string_view text) {
    encryptAppend(text, key_, out_);
    out_ += "\r\n";
    if (out_.size() >= kBlockSize) {
        write(out_.data(), out_.size());
        out_.clear();
    }
}

void LineSpool::writeBatch(const Batch& batch) {
    size_t at = 0;
    for (const size_t size : batch.sizes) {
        encipher(std::string_view(batch.text.data() + at, size));
        at += size;
    }
}

void LineSpool::writeAll() {
    std::exception_ptr failure;
    try {
        while (std::unique_ptr<Batch> batch = take()) {
            writeBatch(*batch);
            giveBack(std::move(batch));
        }
        bool finished;
        {
            const std::lock_guard lock(mutex_);
            finished = !stop_;
        }
        if (finished) write(out_.data(), out_.size());
    } catch (...) {
        failure = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        failure_ = failure;
        done_ = true;
    }
    changed_.notify_all();
}

}  // namespace contavio
