// Second threads for bulk work: the file reader and writer, and large
// searches and listings, which split their work in two on a two-core machine.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

namespace contavio {

// Starts a thread running body with every signal blocked, so that signals
// keep going to the program's own threads (its handlers expect them there).
// Throws std::system_error when no thread can be started; every user then
// does the work on its own thread.
std::thread startWorker(std::function<void()> body);

// Runs mine() on this thread and theirs() on a worker thread, and returns
// when both are done. An exception of either is rethrown here (the caller's
// own first) once both have ended. Without a thread to be had, both run
// here, mine() first.
void runBoth(const std::function<void()>& mine, const std::function<void()>& theirs);

// While false, startWorker refuses as a system out of threads would: tests
// check that everything works the same without second threads.
void setWorkersAllowed(bool allowed);
bool workersAllowed();

// Work of at least this many items is worth a second thread.
inline constexpr size_t kWorthASecondThread = 20000;

}  // namespace contavio
