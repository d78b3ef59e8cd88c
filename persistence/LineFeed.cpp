#include "LineFeed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "DataFiles.h"
#include "UEncrypt.h"
#include "engine/Worker.h"

namespace contavio {

namespace {

constexpr size_t kReadSize = size_t{1} << 20;    // bytes per read(2)
constexpr size_t kBatchBytes = size_t{1} << 18;  // text per batch, about
constexpr size_t kBatchesInFlight = 4;           // read ahead, at most
constexpr uint64_t kSmallFile = kReadSize;       // one read: no second thread

}  // namespace

LineFeed::LineFeed(int fd, uint64_t fileSize, FileLayer& layer, std::optional<int32_t> key)
    : fd_(fd), fileSize_(fileSize), layer_(layer), key_(key) {
    if (fileSize < kSmallFile) return;
    try {
        reader_ = startWorker([this] { readAll(); });
    } catch (const std::system_error&) {
        // No thread to be had: the caller reads a batch whenever it needs one.
    }
}

LineFeed::~LineFeed() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
}

std::string_view LineFeed::next() {
    ++lineNumber_;
    lastHadNul_ = false;
    while (!current_ || pos_ == current_->lines.size()) {
        if (ended_) return {};
        takeNext();
    }
    const Line& line = current_->lines[pos_++];
    consumed_ += line.rawSize;
    lastHadNul_ = line.hasNul;
    return {current_->text.data() + line.at, line.size};
}

// Gives the used batch back and waits for the next one.
void LineFeed::takeNext() {
    std::unique_lock lock(mutex_);
    if (current_) {
        spare_.push_back(std::move(current_));
        --inFlight_;
        changed_.notify_all();
    }
    if (!reader_.joinable() && ready_.empty() && !finished_) {
        lock.unlock();
        readBatch();
        lock.lock();
    }
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (!ready_.empty()) {
        current_ = std::move(ready_.front());
        ready_.pop_front();
        pos_ = 0;
        return;
    }
    if (failure_) std::rethrow_exception(failure_);
    ended_ = true;
}

// ------------------------------------------------------- the reading thread

std::unique_ptr<LineFeed::Batch> LineFeed::freeBatch() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock,
                  [this] { return stop_ || !spare_.empty() || inFlight_ < kBatchesInFlight; });
    if (stop_) return nullptr;
    std::unique_ptr<Batch> batch;
    if (!spare_.empty()) {
        batch = std::move(spare_.back());
        spare_.pop_back();
    } else {
        batch = std::make_unique<Batch>();
    }
    ++inFlight_;
    batch->text.clear();
    batch->lines.clear();
    return batch;
}

void LineFeed::hand(std::unique_ptr<Batch> batch) {
    {
        const std::lock_guard lock(mutex_);
        ready_.push_back(std::move(batch));
    }
    changed_.notify_all();
}

void LineFeed::add(Batch& batch, const char* line, size_t size, uint64_t rawSize) {
    const bool hasNul = std::memchr(line, '\0', size) != nullptr;
    char* text = batch.text.extend(size);
    if (key_) {
        decryptTo(std::string_view(line, size), *key_, text);
    } else if (size > 0) {
        std::memcpy(text, line, size);
    }
    batch.lines.push_back(
        Line{static_cast<size_t>(text - batch.text.data()), size, rawSize, hasNul});
}

// Reads the next block behind the unread bytes; false at the end of the file.
bool LineFeed::fill() {
    if (eof_) return false;
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buf_.empty()) buf_.resize(kReadSize);
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a line longer than a block
    for (;;) {
        const ssize_t got = layer_.read(fd_, buf_.data() + end_, buf_.size() - end_);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            return true;
        }
        if (got == 0) {
            eof_ = true;
            return false;
        }
        if (errno != EINTR) throw FileError(std::strerror(errno));
    }
}

// Reads lines into a free batch until it holds about kBatchBytes or the file
// ends, and hands it on; false once nothing more follows (the end of the
// file, a failure, or a caller who stopped).
bool LineFeed::readBatch() {
    std::unique_ptr<Batch> batch;
    std::exception_ptr failure;
    bool more = true;
    try {
        batch = freeBatch();
        if (!batch) return false;
        for (;;) {
            const char* start = buf_.data() + begin_;
            const auto* lf = end_ > begin_
                                 ? static_cast<const char*>(std::memchr(start, '\n', end_ - begin_))
                                 : nullptr;
            if (lf != nullptr) {
                const size_t raw = static_cast<size_t>(lf - start) + 1;
                const size_t size = raw > 1 && lf[-1] == '\r' ? raw - 2 : raw - 1;
                add(*batch, start, size, raw);
                begin_ += raw;
                if (batch->text.size() >= kBatchBytes) break;
            } else if (!fill()) {
                // The last line may lack its end; it keeps any CR it has.
                if (end_ > begin_) add(*batch, buf_.data() + begin_, end_ - begin_, end_ - begin_);
                begin_ = end_;
                more = false;
                break;
            }
        }
    } catch (...) {
        failure = std::current_exception();
        more = false;
    }
    if (batch) hand(std::move(batch));
    if (!more) {
        {
            const std::lock_guard lock(mutex_);
            failure_ = failure;
            finished_ = true;
        }
        changed_.notify_all();
    }
    return more;
}

void LineFeed::readAll() {
    while (readBatch()) {
    }
}

}  // namespace contavio
