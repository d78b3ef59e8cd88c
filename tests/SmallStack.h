// Runs a test's work on a thread with a small stack (512 KB), so that
// recursion over a long chain or a large result fails whatever the
// optimisation level.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

namespace contavio::testing {

inline void runOnSmallStack(const std::function<void()>& fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 512 * 1024);
    pthread_t thread;
    auto trampoline = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&fn)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace contavio::testing
