#include "Worker.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <exception>
#include <system_error>

namespace contavio {

namespace {

std::atomic<bool> gWorkersAllowed{true};

}  // namespace

void setWorkersAllowed(bool allowed) { gWorkersAllowed = allowed; }

bool workersAllowed() { return gWorkersAllowed; }

std::thread startWorker(std::function<void()> body) {
    if (!gWorkersAllowed) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    // A new thread inherits the mask of the thread that starts it.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    struct Restore {
        sigset_t& mask;
        ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{old};
    return std::thread(std::move(body));
}

void runBoth(const std::function<void()>& mine, const std::function<void()>& theirs) {
    std::exception_ptr theirFailure;
    std::thread worker;
    try {
        worker = startWorker([&] {
            try {
                theirs();
            } catch (...) {
                theirFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        mine();
        theirs();
        return;
    }
    std::exception_ptr myFailure;
    try {
        mine();
    } catch (...) {
        myFailure = std::current_exception();
    }
    worker.join();
    if (myFailure) std::rethrow_exception(myFailure);
    if (theirFailure) std::rethrow_exception(theirFailure);
}

}  // namespace contavio
