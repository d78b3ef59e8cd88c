// contavio_bench: measures the record store and its database file against
// plain file I/O and SQLite 3 on synthetic contact books, and prints one
// table row per measurement with the median of several runs.
//
//   contavio_bench [--sizes N...] [--book FILE] [--runs N] [--budget S] [--seed N]
//                  [--dir PATH] [--one-thread]
//
// Both sides of a row work on the same data, only the operation itself is
// timed, and both must hand back the same results: a difference ends the
// program with exit code 2.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "FreshProcess.h"
#include "PlainFiles.h"
#include "engine/Worker.h"

namespace contavio::bench {
namespace {

constexpr int64_t kMaxSize = 20'000'000;

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: contavio_bench [--sizes N...] [--book FILE] [--runs N] [--budget S] "
                 "[--seed N] [--dir PATH] [--one-thread] [--rows NAME...]\n"
                 "  --sizes N...  books of N generated contacts (default 10000 100000 1000000;\n"
                 "                blanks or commas between sizes; k and m suffixes allowed)\n"
                 "  --book FILE   measure this data.vlt instead of generated books (it is only\n"
                 "                read; the rows that write save copies in the work folder)\n"
                 "  --runs N      runs per measurement, the median is shown (default 5)\n"
                 "  --one-thread  the store without second threads, as on a system that\n"
                 "                starts none\n"
                 "  --budget S    seconds a row may take: a row that extrapolation says would\n"
                 "                run longer than S is skipped, a run that passes S gives up,\n"
                 "                and fewer runs are made when they would not fit in S/2\n"
                 "                (default 60)\n"
                 "  --seed N      seed of the generated books (default %llu)\n"
                 "  --dir PATH    folder for the database files (default: a temporary folder\n"
                 "                in the current one, removed at the end)\n"
                 "  --rows NAME...  only these rows (default all): load start-up save search-5%%\n"
                 "                search-all held commit after-search after-insert vcard memory\n"
                 "                memory-started\n",
                 static_cast<unsigned long long>(kDefaultSeed));
}

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "contavio_bench: %s\n", message.c_str());
    printUsage(stderr);
    std::exit(1);
}

int64_t parseSize(const std::string& text) {
    if (text.empty()) usageError("empty size");
    int64_t scale = 1;
    std::string digits = text;
    const char last = static_cast<char>(std::tolower(static_cast<unsigned char>(text.back())));
    if (last == 'k' || last == 'm') {
        scale = last == 'k' ? 1000 : 1000000;
        digits.pop_back();
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit) ||
        digits.size() > 9) {
        usageError("not a size: " + text);
    }
    const int64_t size = std::stoll(digits) * scale;
    if (size < 1 || size > kMaxSize) {
        usageError("size out of range (1.." + std::to_string(kMaxSize) + "): " + text);
    }
    return size;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    bool sizesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) usageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            std::exit(0);
        } else if (arg == "--sizes") {
            if (!sizesGiven) options.sizes.clear();
            sizesGiven = true;
            while (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
                std::stringstream list(argv[++i]);
                std::string item;
                while (std::getline(list, item, ',')) {
                    if (!item.empty()) options.sizes.push_back(parseSize(item));
                }
            }
            if (options.sizes.empty()) usageError("--sizes needs at least one size");
        } else if (arg == "--rows") {
            while (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
                std::stringstream list(argv[++i]);
                std::string item;
                while (std::getline(list, item, ',')) {
                    if (!item.empty()) options.rows.push_back(item);
                }
            }
            if (options.rows.empty()) usageError("--rows needs at least one row");
        } else if (arg == "--runs") {
            const std::string v = value();
            options.runs = std::atoi(v.c_str());
            if (options.runs < 1 || options.runs > 1000) usageError("bad --runs: " + v);
        } else if (arg == "--budget") {
            const std::string v = value();
            options.budget = std::atof(v.c_str());
            if (!(options.budget > 0.0)) usageError("bad --budget: " + v);
        } else if (arg == "--seed") {
            options.seed = std::strtoull(value().c_str(), nullptr, 10);
        } else if (arg == "--book") {
            options.book = value();
            if (::access(options.book.c_str(), R_OK) != 0) {
                usageError("cannot read " + options.book + ": " + std::strerror(errno));
            }
        } else if (arg == "--dir") {
            options.dir = value();
        } else if (arg == "--one-thread") {
            // The store as on a system that starts no second thread.
            contavio::setWorkersAllowed(false);
        } else {
            usageError("unknown argument: " + arg);
        }
    }
    std::sort(options.sizes.begin(), options.sizes.end());
    options.sizes.erase(std::unique(options.sizes.begin(), options.sizes.end()),
                        options.sizes.end());
    return options;
}

// The whole benchmark; its exit code.
int runBench(const Options& options, const WorkDir& dir) {
    try {
        Bench bench(options, dir);
        bench.run();
        std::printf("\ntargets: %d met, %d not met\n", bench.met(), bench.notMet());
        return 0;
    } catch (const Mismatch& e) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "\n************************************************************\n"
                     "MISMATCH: %s\n"
                     "************************************************************\n",
                     e.what());
        std::printf("\nMISMATCH: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "contavio_bench: error: %s\n", e.what());
        return 1;
    }
}

volatile sig_atomic_t benchChild = 0;

void forwardSignal(int sig) {
    if (benchChild > 0) ::kill(static_cast<pid_t>(benchChild), sig);
}

// Runs the benchmark in a child process, so that the temporary folder and
// its database files go away however the run ends: a crash in the store, or
// a signal, which the waiting parent passes on to the child.
int runGuarded(const Options& options, const WorkDir& dir) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) systemError("fork");
    if (pid == 0) {
        const int code = runBench(options, dir);
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    benchChild = pid;
    struct sigaction forward {};
    forward.sa_handler = forwardSignal;  // no SA_RESTART: waitpid sees EINTR and waits on
    sigemptyset(&forward.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &forward, nullptr);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) systemError("waitpid");
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "contavio_bench: ended by signal %d (%s)\n", WTERMSIG(status),
                     strsignal(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace
}  // namespace contavio::bench

int main(int argc, char** argv) {
    using namespace contavio::bench;
    const bool child = argc > 1 && std::string(argv[1]) == kChildFlag;
    const Options options = child ? Options{} : parseOptions(argc, argv);
    try {
        if (child) return childMain(argc, argv);
        const WorkDir dir(options.dir);
        return dir.temporary() ? runGuarded(options, dir) : runBench(options, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "contavio_bench: error: %s\n", e.what());
        return 1;
    }
}
