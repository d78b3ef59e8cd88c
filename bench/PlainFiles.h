// The files of a benchmark run: the folder that holds them, and the plain
// reads and writes that the store's load and save are measured against.
#pragma once

#include <cstdint>
#include <string>

namespace contavio::bench {

// Throws std::runtime_error with what and the system's message for errno.
[[noreturn]] void systemError(const std::string& what);

// The folder that holds the database files of the run: the one asked for,
// created if missing and left in place, or else a new temporary folder in
// the current one, removed with everything in it when this goes away.
class WorkDir {
  public:
    explicit WorkDir(const std::string& requested);
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }
    bool temporary() const { return temporary_; }

  private:
    std::string dir_;
    bool temporary_ = false;
};

// "ext2/3/4", "tmpfs", ...: where the files live decides what fsync costs.
std::string fileSystemName(const std::string& dir);

std::string readWholeFile(const std::string& path);

// The limit of a load: the whole file read into memory, nothing more.
// Returns the seconds it took; bytesRead gets what was read.
double plainRead(const std::string& path, int64_t& bytesRead);

// The limit of an atomic save: bytes written to a temporary file beside
// path, synced, then renamed over path. Returns the seconds it took.
double plainAtomicWrite(const std::string& path, const std::string& bytes);

}  // namespace contavio::bench
