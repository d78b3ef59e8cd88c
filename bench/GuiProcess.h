// A run of the window benchmark in a fresh process: this program started
// again with a flag and the folder of the book, as a person starting the
// program gets it.
#pragma once

#include <filesystem>
#include <string>

#include "StoreOps.h"

namespace contavio::bench {

struct FreshRun {
    std::string output;       // what the process printed on standard output
    Clock::time_point ended;  // when it was seen to have ended
};

// Starts this program again as `self flag folder` and waits for it to end.
// Throws when it cannot be started or does not end with status 0.
FreshRun runInFreshProcess(const std::string& self, const std::string& flag,
                           const std::filesystem::path& folder);

}  // namespace contavio::bench
