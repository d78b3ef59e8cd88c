// What the fuzz targets share: a check that aborts (libFuzzer then keeps the
// input), a message sink that swallows the readers' boxes, a file layer that
// skips the flush, and a private scratch folder for the files they write.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/Platform.h"
#include "persistence/DataFiles.h"

namespace contavio::fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s: check failed at line %d: %s\n", file, line, what);
    std::abort();
}

// The readers' message boxes ("No se pudo abrir", the float-list warning)
// are expected and would only flood the log.
class QuietSink : public MessageSink {
  public:
    void show(const std::string&) override {}
};

// Durability is not under test here: skipping the flush keeps runs fast.
class NoSyncLayer : public FileLayer {
  public:
    int fsync(int) override { return 0; }
};

// This process's own folder for the files it writes (in memory when
// /dev/shm is there), removed at exit.
inline std::string& scratch() {
    static std::string folder;
    return folder;
}

inline void makeScratch() {
    const char* base = "/dev/shm";
    struct stat st {};
    if (stat(base, &st) != 0 || !S_ISDIR(st.st_mode) || access(base, W_OK) != 0) {
        base = std::getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = "/tmp";
    }
    std::string pattern = std::string(base) + "/contavio-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail(__FILE__, __LINE__, "mkdtemp");
    scratch() = pattern;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(scratch(), ec);
    });
}

// What every target does once, before its first input: quiet message boxes,
// no flushing, and its scratch folder.
inline void setUpTarget() {
    static QuietSink sink;
    static NoSyncLayer layer;
    setMessageSink(&sink);
    setFileLayer(&layer);
    makeScratch();
}

}  // namespace contavio::fuzz

#define CHECK(cond) ((cond) ? (void)0 : ::contavio::fuzz::fail(__FILE__, __LINE__, #cond))
