#include "FreshProcess.h"

#include <fcntl.h>
#include <malloc.h>
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
#include "Measure.h"
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
        throw std::runtime_error("measurement process failed");
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

// The contacts of the SQLite side's book, generated or read from a file.
std::vector<Contact> sourceBook(const BookSource& source) {
    if (source.path.empty()) return generateBook(source.size, source.seed);
    std::vector<Contact> book;
    {
        TConjuntos store(1);
        store.loadCrypt(source.path, kSlot, kCipherKey);
        book = contactsOf(store);
    }
    // The set read to get the contacts is no part of what is measured.
    malloc_trim(0);
    return book;
}

std::vector<std::string> sourceArgs(const BookSource& source) {
    if (!source.path.empty()) return {"file", source.path};
    return {"generated", std::to_string(source.size), std::to_string(source.seed)};
}

BookSource parseSource(int argc, char** argv, int first) {
    BookSource source;
    const std::string kind = argc > first ? argv[first] : "";
    if (kind == "file" && argc == first + 2) {
        source.path = argv[first + 1];
    } else if (kind == "generated" && argc == first + 3) {
        source.size = std::stoll(argv[first + 1]);
        source.seed = std::strtoull(argv[first + 2], nullptr, 10);
    } else {
        throw std::runtime_error("bad book source arguments");
    }
    return source;
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
[[noreturn]] void sqliteMemoryChild(const BookSource& source) {
    const std::vector<Contact> book = sourceBook(source);
    const bool peakReset = resetPeakMemory();
    const MemoryUse before = memoryUse();
    auto* db = new SqliteBook();
    db->insertAll(book, Clock::time_point::max());
    const MemoryUse after = memoryUse();
    printMemoryLine(before, after, db->count(), peakReset);
    std::_Exit(0);
}

void printStartupLine(double load, double startup, const MemoryUse& before, const MemoryUse& after,
                      int64_t contacts, int64_t listed) {
    std::printf("START %.9f %.9f %lld %lld %lld\n", load, startup,
                static_cast<long long>(after.resident - before.resident),
                static_cast<long long>(contacts), static_cast<long long>(listed));
    std::fflush(stdout);
}

// In the fresh process: the program's start-up, timed, and what it holds after.
[[noreturn]] void storeStartupChild(const std::string& path) {
    const MemoryUse before = memoryUse();
    const auto start = Clock::now();
    auto* store = new TConjuntos(1);
    store->loadCrypt(path, kSlot, kCipherKey);
    const double load = secondsSince(start);
    auto* listing = new StoreListing();
    const int64_t listed = searchAndList(*store, "", *listing);
    const double startup = secondsSince(start);
    const MemoryUse after = memoryUse();
    printStartupLine(load, startup, before, after, setCount(*store), listed);
    std::_Exit(0);
}

[[noreturn]] void sqliteStartupChild(const BookSource& source) {
    const std::vector<Contact> book = sourceBook(source);
    const MemoryUse before = memoryUse();
    auto* db = new SqliteBook();
    db->insertAll(book, Clock::time_point::max());
    auto* listing = new SqlListing();
    const int64_t listed = db->search("", *listing);
    const MemoryUse after = memoryUse();
    printStartupLine(0.0, 0.0, before, after, db->count(), listed);
    std::_Exit(0);
}

[[noreturn]] void readChild(const std::string& path) {
    int64_t bytes = 0;
    const double seconds = plainRead(path, bytes);
    std::printf("READ %.9f %lld\n", seconds, static_cast<long long>(bytes));
    std::fflush(stdout);
    std::_Exit(0);
}

StartupReading parseStartupLine(const std::string& output) {
    std::istringstream in(output);
    std::string tag;
    StartupReading reading;
    if (!(in >> tag >> reading.loadSeconds >> reading.startupSeconds >> reading.held >>
          reading.contacts >> reading.listed) ||
        tag != "START") {
        throw std::runtime_error("start-up child printed no reading: " + output);
    }
    return reading;
}

}  // namespace

MemoryReading measureStoreMemory(const std::string& dataPath) {
    return parseMemoryLine(runSelf({kChildFlag, "store-memory", dataPath}));
}

MemoryReading measureSqliteMemory(const BookSource& source) {
    std::vector<std::string> args = {kChildFlag, "sqlite-memory"};
    for (std::string& a : sourceArgs(source)) args.push_back(std::move(a));
    return parseMemoryLine(runSelf(args));
}

StartupReading measureStartup(const std::string& dataPath) {
    return parseStartupLine(runSelf({kChildFlag, "store-startup", dataPath}));
}

StartupReading measureSqliteStartup(const BookSource& source) {
    std::vector<std::string> args = {kChildFlag, "sqlite-startup"};
    for (std::string& a : sourceArgs(source)) args.push_back(std::move(a));
    return parseStartupLine(runSelf(args));
}

double measureFreshRead(const std::string& path) {
    const std::string output = runSelf({kChildFlag, "read", path});
    std::istringstream in(output);
    std::string tag;
    double seconds = 0.0;
    if (!(in >> tag >> seconds) || tag != "READ") {
        throw std::runtime_error("read child printed no reading: " + output);
    }
    return seconds;
}

int childMain(int argc, char** argv) {
    const std::string kind = argc > 2 ? argv[2] : "";
    try {
        if (kind == "store-memory" && argc == 4) storeMemoryChild(argv[3]);
        if (kind == "store-startup" && argc == 4) storeStartupChild(argv[3]);
        if (kind == "read" && argc == 4) readChild(argv[3]);
        if (kind == "sqlite-memory") sqliteMemoryChild(parseSource(argc, argv, 3));
        if (kind == "sqlite-startup") sqliteStartupChild(parseSource(argc, argv, 3));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "contavio_bench: %s: %s\n", kChildFlag, e.what());
        return 1;
    }
    std::fprintf(stderr, "contavio_bench: bad %s arguments\n", kChildFlag);
    return 1;
}

}  // namespace contavio::bench
