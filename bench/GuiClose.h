// The window's close-down as the user meets it, each run in a fresh process
// with a copy of the book of its own (the close rewrites it): from the close
// request ("Salir", which closes the window as the title bar's X does) until
// the window is hidden, and until the process has ended. Its peer, in the
// same process before the window is made: write(), fsync() and rename() of
// the bytes of data.vlt.
#pragma once

#include <filesystem>
#include <string>

namespace contavio::bench {

inline constexpr const char* kCloseFlag = "--close-in";

struct CloseReading {
    double hiddenMs = 0.0;  // close request to the window hidden
    double endedMs = 0.0;   // close request to the process ended
    double peerMs = 0.0;    // the plain atomic write of the same bytes
    int listed = 0;         // lines the results list held at the close
    int questions = 0;      // questions the close asked (after a failed save)
};

// In the fresh process, in the folder of the copy: starts the window, closes
// it once it is shown and prints its reading.
int closeOnce();

// Copies book into folder and closes the window on it in a fresh process.
// Throws when the close did not rewrite the copy.
CloseReading measureClose(const std::string& self, const std::filesystem::path& book,
                          const std::filesystem::path& folder);

}  // namespace contavio::bench
