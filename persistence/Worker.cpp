#include "Worker.h"

#include <pthread.h>
#include <signal.h>

namespace contavio {

std::thread startWorker(std::function<void()> body) {
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

}  // namespace contavio
