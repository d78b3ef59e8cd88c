// Elements handed from the thread that reads them from a file to the thread
// that inserts them into a set, in batches and in the order read. The queue
// holds a few batches at most: a reader that runs ahead waits.
//
// The reader ends with finish(), giving the error that stopped it, if any;
// the inserter takes every batch put before that, then gets the error. An
// inserter that gives up calls stop(), after which put() drops its batch and
// tells the reader to end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "../engine/Elemento.h"

namespace contavio {

class ElementQueue {
  public:
    using Batch = std::vector<std::unique_ptr<TElem>>;

    // The reader's side. False once the inserter has stopped.
    bool put(Batch batch);
    void finish(std::exception_ptr error);

    // The inserter's side. The next batch, in the order put; false when the
    // reader finished without an error and every batch was taken. Rethrows
    // the reader's error once the batches before it were taken.
    bool take(Batch& batch);
    void stop();

  private:
    static constexpr size_t kMostBatches = 8;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> batches_;
    std::exception_ptr error_;
    bool finished_ = false;
    bool stopped_ = false;
};

}  // namespace contavio
