// The second thread of a file reader or writer.
#pragma once

#include <functional>
#include <thread>

namespace contavio {

// Starts a thread running body with every signal blocked, so that signals
// keep going to the program's own threads (its handlers expect them there).
std::thread startWorker(std::function<void()> body);

}  // namespace contavio
