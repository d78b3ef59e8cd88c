// The lines of a database file, for its reader. A second thread reads the
// file a block at a time, splits it into lines and deciphers them, a few
// batches ahead of the thread that builds elements from them. For a small
// file, or when no thread can be started, the caller does the same a batch
// at a time.
//
// A line ends at LF, and a CR right before that LF belongs to the line end;
// any other CR is text. The last line may lack its end, and every line past
// the end of the file is empty.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/RawBuffer.h"

namespace contavio {

class FileLayer;

class LineFeed {
  public:
    // Reads the open file fd (borrowed) through layer (borrowed), from its
    // current offset; fileSize is its size when opened. With a key every line
    // is deciphered, without one it is handed on as it stands. A small file
    // is read on the caller's thread: for a few batches the hand-over between
    // two threads costs more than it saves.
    LineFeed(int fd, uint64_t fileSize, FileLayer& layer, std::optional<int32_t> key);
    LineFeed(const LineFeed&) = delete;
    LineFeed& operator=(const LineFeed&) = delete;
    // Stops the reading thread and waits for it.
    ~LineFeed();

    // The next line, valid until the following call. A failure of the file
    // system is thrown here (FileError) once the lines read before it are
    // used up.
    std::string_view next();
    // Whether the line last returned held a NUL byte before deciphering.
    bool lastHadNul() const { return lastHadNul_; }
    // What the file still holds after the lines read so far. Every line in it
    // takes at least one byte, so no more lines than this can follow.
    uint64_t bytesLeft() const { return fileSize_ > consumed_ ? fileSize_ - consumed_ : 0; }
    int64_t lineNumber() const { return lineNumber_; }

  private:
    struct Line {
        size_t at;         // where its text starts in the batch
        size_t size;       // its text's size
        uint64_t rawSize;  // the bytes it took in the file, line end included
        bool hasNul;
    };
    struct Batch {
        RawBuffer text;  // the texts of the lines, one after another
        std::vector<Line> lines;
    };

    void readAll();
    bool readBatch();
    void add(Batch& batch, const char* line, size_t size, uint64_t rawSize);
    std::unique_ptr<Batch> freeBatch();
    void hand(std::unique_ptr<Batch> batch);
    bool fill();
    void takeNext();

    int fd_;
    uint64_t fileSize_;
    FileLayer& layer_;
    std::optional<int32_t> key_;

    // Shared by both threads, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> ready_;
    std::vector<std::unique_ptr<Batch>> spare_;
    size_t inFlight_ = 0;         // batches made and not yet given back
    bool stop_ = false;           // the caller is done: the reading thread ends
    bool finished_ = false;       // the reading thread has handed its last batch
    std::exception_ptr failure_;  // why it stopped before the end of the file

    // The reading thread's own (the caller's, when no thread could be had).
    // Each thread's own members start a cache line of their own: members
    // that both threads write on every line would make the line bounce
    // between the two cores.
    alignas(64) std::vector<char> buf_;
    size_t begin_ = 0;  // first unread byte in buf_
    size_t end_ = 0;    // end of the bytes read into buf_
    bool eof_ = false;

    // The caller's own.
    alignas(64) std::unique_ptr<Batch> current_;
    size_t pos_ = 0;
    uint64_t consumed_ = 0;
    int64_t lineNumber_ = 0;
    bool lastHadNul_ = false;
    bool ended_ = false;

    alignas(64) std::thread reader_;  // last: starts once everything above is set up
};

}  // namespace contavio
