#include "MemoryProbe.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "BookGenerator.h"
#include "PlainFiles.h"
#include "SqliteBook.h"
#include "StoreOps.h"

namespace contavio::bench {

namespace {

// Resident and peak resident memory of this process in bytes, read from
// /proc/self/status (VmRSS, VmHWM).
struct MemoryUse {
    int64_t resident = 0;
    int64_t peak = 0;
};

int64_t statusKilobytes(const std::string& status, const std::string& field) {
    std::istringstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    }
    return 0;
}

MemoryUse memoryUse() {
    std::ifstream file("/proc/self/status");
    std::stringstream text;
    text << file.rdbuf();
    const std::string status = text.str();
    return MemoryUse{statusKilobytes(status, "VmRSS") * 1024,
                     statusKilobytes(status, "VmHWM") * 1024};
}

// Resets the peak (VmHWM) to the current resident size; false when the
// kernel refuses.
bool resetPeakMemory() {
    std::ofstream file("/proc/self/clear_refs");
    file << "5";
    file.flush();
    return static_cast<bool>(file);
}

MemoryReading parseMemoryLine(const std::string& output) {
    std::istringstream in(output);
    std::string tag;
    int64_t before = 0, peak = 0, after = 0, contacts = 0;
    int peakReset = 0;
    if (!(in >> tag >> before >> peak >> after >> contacts >> peakReset) || tag != "MEM") {
        throw std::runtime_error("memory child printed no reading: " + output);
    }
    MemoryReading reading;
    reading.contacts = contacts;
    reading.peak = peakReset != 0;
    reading.growth = reading.peak ? std::max(peak, after) - before : after - before;
    return reading;
}

// Runs this program again with arguments and returns what it printed.
std::string runSelf(const std::vector<std::string>& args) {
    std::vector<std::string> storage = {"contavio_bench"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) systemError("pipe");
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) systemError("fork");
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) systemError("read from child");
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) systemError("waitpid");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("memory measurement process failed");
    }
    return output;
}

void printMemoryLine(const MemoryUse& before, const MemoryUse& after, int64_t contacts,
                     bool peakReset) {
    std::printf("MEM %lld %lld %lld %lld %d\n", static_cast<long long>(before.resident),
                static_cast<long long>(after.peak), static_cast<long long>(after.resident),
                static_cast<long long>(contacts), peakReset ? 1 : 0);
    std::fflush(stdout);
}

// In the fresh process: the growth around loading the file into a set.
[[noreturn]] void storeMemoryChild(const std::string& path) {
    const bool peakReset = resetPeakMemory();
    const MemoryUse before = memoryUse();
    auto* store = new TConjuntos(1);
    store->loadCrypt(path, kSlot, kCipherKey);
    const MemoryUse after = memoryUse();
    printMemoryLine(before, after, setCount(*store), peakReset);
    // The process ends here: freeing the set would only cost time.
    std::_Exit(0);
}

// In the fresh process: the growth around filling an in-memory database.
[[noreturn]] void sqliteMemoryChild(int64_t size, uint64_t seed) {
    const std::vector<Contact> book = generateBook(size, seed);
    const bool peakReset = resetPeakMemory();
    const MemoryUse before = memoryUse();
    auto* db = new SqliteBook();
    db->insertAll(book, Clock::time_point::max());
    const MemoryUse after = memoryUse();
    printMemoryLine(before, after, db->count(), peakReset);
    std::_Exit(0);
}

}  // namespace

MemoryReading measureStoreMemory(const std::string& dataPath) {
    return parseMemoryLine(runSelf({kMemoryChildFlag, "store", dataPath}));
}

MemoryReading measureSqliteMemory(int64_t size, uint64_t seed) {
    return parseMemoryLine(
        runSelf({kMemoryChildFlag, "sqlite", std::to_string(size), std::to_string(seed)}));
}

int memoryChildMain(int argc, char** argv) {
    const std::string kind = argc > 2 ? argv[2] : "";
    if (kind == "store" && argc == 4) storeMemoryChild(argv[3]);
    if (kind == "sqlite" && argc == 5) {
        sqliteMemoryChild(std::stoll(argv[3]), std::strtoull(argv[4], nullptr, 10));
    }
    std::fprintf(stderr, "contavio_bench: bad --memory-child arguments\n");
    return 1;
}

}  // namespace contavio::bench
