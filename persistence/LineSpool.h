// The lines of a database file being written. The caller's thread gathers
// plain lines into batches; a second thread enciphers them, ends each with
// CR LF and writes them to the file a block at a time. For a small file, or
// when no thread can be started, the caller does the same as it goes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace contavio {

class FileLayer;

class LineSpool {
  public:
    // Writes to the open file fd (borrowed) through layer (borrowed); on a
    // second thread when `large` (for a few lines the hand-over between two
    // threads costs more than it saves).
    LineSpool(int fd, FileLayer& layer, int32_t key, bool large);
    LineSpool(const LineSpool&) = delete;
    LineSpool& operator=(const LineSpool&) = delete;
    // Stops the writing thread and waits for it; lines not yet written by
    // then are dropped (the caller is failing anyway).
    ~LineSpool();

    // One more line. A failure of the file system met by the writing thread
    // is thrown here (FileError) or by finish.
    void line(std::string_view text);
    // Writes whatever is left and returns once every line is in the file.
    void finish();

  private:
    struct Batch {
        std::string text;           // the plain lines, one after another
        std::vector<size_t> sizes;  // their sizes, in order
    };

    void hand();
    void writeAll();
    void writeBatch(const Batch& batch);
    void encipher(std::string_view text);
    void write(const char* data, size_t size);
    std::unique_ptr<Batch> take();
    void giveBack(std::unique_ptr<Batch> batch);

    int fd_;
    FileLayer& layer_;
    int32_t key_;
    std::unique_ptr<Batch> current_;  // the caller's own
    // Enciphered lines not yet written: the writing thread's own. It starts a
    // cache line of its own, or the line would bounce between the two cores
    // as both threads touch their members on every line.
    alignas(64) std::string out_;

    // Shared by both threads, under mutex_.
    alignas(64) std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> ready_;
    std::vector<std::unique_ptr<Batch>> spare_;
    size_t inFlight_ = 0;   // batches handed and not yet written
    bool closing_ = false;  // no batch follows those in ready_
    bool stop_ = false;     // the caller gave up: drop the rest
    bool done_ = false;     // the writing thread has ended
    std::exception_ptr failure_;

    std::thread writer_;  // last: starts once everything above is set up
};

}  // namespace contavio
