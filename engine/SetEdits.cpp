#include "SetEdits.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#include "Elemento.h"

namespace contavio {
namespace {

struct Edit {
    uint64_t count;  // gSetElemEdits right after the edit
    const TElem* elem;
};

struct Log {
    std::mutex mutex;
    std::deque<Edit> edits;  // oldest first, at most kSetEditLog
};

Log& editLog() {
    static Log* const log = new Log();  // outlives every thread that edits
    return *log;
}

}  // namespace

void noteSetElemEdit(const TElem* elem) {
    Log& log = editLog();
    const std::lock_guard<std::mutex> lock(log.mutex);
    const uint64_t count = gSetElemEdits.fetch_add(1, std::memory_order_relaxed) + 1;
    try {
        if (log.edits.size() == kSetEditLog) log.edits.pop_front();
        log.edits.push_back(Edit{count, elem});
    } catch (...) {
        // No room to log it: the log then starts after this edit, and every
        // cache made before it is made anew.
        log.edits.clear();
    }
}

bool setElemEditsSince(uint64_t since, uint64_t& now, std::vector<const TElem*>& edited) {
    edited.clear();
    Log& log = editLog();
    const std::lock_guard<std::mutex> lock(log.mutex);
    now = gSetElemEdits.load(std::memory_order_relaxed);
    if (now == since) return true;
    if (log.edits.empty() || log.edits.front().count > since + 1) return false;
    for (auto it = log.edits.rbegin(); it != log.edits.rend() && it->count > since; ++it) {
        edited.push_back(it->elem);
    }
    std::sort(edited.begin(), edited.end(), std::less<const TElem*>());
    return true;
}

}  // namespace contavio
