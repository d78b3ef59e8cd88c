#include "engine/Worker.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <system_error>

namespace contavio {
namespace {

TEST(RunBoth, BothPartsRunOnTwoThreads) {
    pthread_t mine{}, theirs{};
    std::atomic<int> done{0};
    runBoth(
        [&] {
            mine = pthread_self();
            ++done;
        },
        [&] {
            theirs = pthread_self();
            ++done;
        });
    EXPECT_EQ(done.load(), 2);
    EXPECT_TRUE(pthread_equal(mine, pthread_self()));
    EXPECT_FALSE(pthread_equal(theirs, pthread_self()));
}

TEST(RunBoth, AFailureOfEitherPartReachesTheCallerAfterBothEnded) {
    std::atomic<bool> otherEnded{false};
    try {
        runBoth(
            [&] {
                otherEnded = false;
                throw std::runtime_error("mine");
            },
            [&] { otherEnded = true; });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "mine");
    }
    try {
        runBoth([&] {}, [&] { throw std::runtime_error("theirs"); });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "theirs");
    }
    // Both fail: the caller's own comes first.
    try {
        runBoth([&] { throw std::runtime_error("mine"); },
                [&] { throw std::runtime_error("theirs"); });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "mine");
    }
}

// Switches second threads off for one test.
struct WithoutWorkers {
    WithoutWorkers() { setWorkersAllowed(false); }
    ~WithoutWorkers() { setWorkersAllowed(true); }
};

TEST(RunBoth, WithoutASecondThreadBothPartsRunHereInTurn) {
    const WithoutWorkers off;
    EXPECT_THROW(startWorker([] {}), std::system_error);
    std::string trace;
    pthread_t theirs{};
    runBoth([&] { trace += "mine "; },
            [&] {
                trace += "theirs";
                theirs = pthread_self();
            });
    EXPECT_EQ(trace, "mine theirs");
    EXPECT_TRUE(pthread_equal(theirs, pthread_self()));
    try {
        runBoth([&] {}, [&] { throw std::runtime_error("theirs"); });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "theirs");
    }
}

TEST(StartWorker, TheWorkerBlocksSignalsAndTheCallerKeepsItsMask) {
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    bool blocked = false;
    std::thread worker = startWorker([&] {
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        blocked = sigismember(&mask, SIGTERM) == 1 && sigismember(&mask, SIGINT) == 1 &&
                  sigismember(&mask, SIGHUP) == 1 && sigismember(&mask, SIGUSR1) == 1;
    });
    worker.join();
    EXPECT_TRUE(blocked);
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
        EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
    }
}

}  // namespace
}  // namespace contavio
