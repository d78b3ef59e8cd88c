// Frees large results off the caller's path. The listing of a million
// contacts holds two million strings and a search result of a hundred
// megabytes; freeing them takes longer than the search that replaces them,
// and the person who clicked "Buscar" would wait for it. A second thread
// frees what it is handed, in the order handed; without one to be had, the
// caller frees it at once.
//
// What is handed over must be the caller's alone: nothing else may point
// into it. The thread finishes its work when the program ends.
#pragma once

#include <memory>
#include <utility>

namespace contavio {

// Something to free, whatever its type.
struct Garbage {
    virtual ~Garbage() = default;
};

// Runs garbage's destructor on the freeing thread, or here.
void freeAside(std::unique_ptr<Garbage> garbage);

// Returns once everything handed over so far has been freed. For a
// measurement that must not share the machine with freeing left over from
// the one before.
void finishFreeingAside();

template <class T>
void freeAside(std::unique_ptr<T> value) {
    struct Held final : Garbage {
        explicit Held(std::unique_ptr<T> v) : value(std::move(v)) {}
        std::unique_ptr<T> value;
    };
    if (value) freeAside(std::unique_ptr<Garbage>(std::make_unique<Held>(std::move(value))));
}

}  // namespace contavio
