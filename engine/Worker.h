// Second threads for bulk work: the file reader and writer, and large
// searches and listings, which split their work in two on a two-core machine.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

namespace contavio {

// Starts a thread running body with every signal blocked, so that signals
// keep going to the program's own threads (its handlers expect them there).
std::thread startWorker(std::function<void()> body);

// Runs mine() on this thread and theirs() on a worker thread, and returns
// when both are done. An exception of either is rethrown here (the caller's
// own first) once both have ended.
void runBoth(const std::function<void()>& mine, const std::function<void()>& theirs);

// Work of at least this many items is worth a second thread.
inline constexpr size_t kWorthASecondThread = 20000;

}  // namespace contavio
