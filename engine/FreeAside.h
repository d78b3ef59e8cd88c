// Frees large results off the caller's path. The listing of a million
// contacts holds two million strings and a search result of a hundred
// megabytes; freeing them takes longer than the search that replaces them,
// and the person who clicked "Buscar" would wait for it. A second thread
// frees what it is handed, in the order handed; without one to be had, the
// caller frees it at once.
//
// What waits to be freed is bounded, so that searches pressed again and
// again do not pile up garbage: while little waits, the thread waits for a
// quiet moment (the caller is usually still at work); once more than
// kFreeAsidePatient bytes wait (or three times the largest thing handed over
// so far, if more) it frees at once; and a caller who would hand over more
// while kFreeAsideMost bytes or more wait (or six times that largest thing)
// frees it itself. A large book's single result is then no reason to hurry,
// and a small book's many never pile up beyond a few dozen megabytes.
//
// What is handed over must be the caller's alone: nothing else may point
// into it. The thread finishes its work when the program ends.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace contavio {

inline constexpr std::size_t kFreeAsidePatient = std::size_t{32} << 20;
inline constexpr std::size_t kFreeAsideMost = std::size_t{192} << 20;

// Something to free, whatever its type, and about how many bytes it holds.
struct Garbage {
    virtual ~Garbage() = default;
    std::size_t bytes = 0;
};

// Runs garbage's destructor on the freeing thread, or here.
void freeAside(std::unique_ptr<Garbage> garbage);

// Returns once everything handed over so far has been freed. For a
// measurement that must not share the machine with freeing left over from
// the one before.
void finishFreeingAside();

// About how many bytes a value holds, for the bound above. A type of the
// caller's may give its own (found by argument-dependent lookup).
template <class T>
std::size_t asideBytes(const T&) {
    return sizeof(T);
}
std::size_t asideBytes(const std::string& text);
// Estimated from a sample of the texts: exact would cost a pass over all.
std::size_t asideBytes(const std::vector<std::string>& texts);

template <class T>
void freeAside(std::unique_ptr<T> value, std::size_t bytes) {
    struct Held final : Garbage {
        explicit Held(std::unique_ptr<T> v) : value(std::move(v)) {}
        std::unique_ptr<T> value;
    };
    if (!value) return;
    auto held = std::make_unique<Held>(std::move(value));
    held->bytes = bytes;
    freeAside(std::unique_ptr<Garbage>(std::move(held)));
}

template <class T>
void freeAside(std::unique_ptr<T> value) {
    if (value) {
        const std::size_t bytes = asideBytes(*value);
        freeAside(std::move(value), bytes);
    }
}

}  // namespace contavio
