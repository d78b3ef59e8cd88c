// The two database files of a keyed hash set: the encrypted file (each value
// line enciphered with UEncrypt) that the store reads and writes, and the
// legacy plain-text file that it only reads. docs/file-formats.md gives the
// line layout. Lines are written with CR LF; LF alone is read too.
//
// Failures of the file system and values that do not convert end the
// operation with an exception derived from std::runtime_error; nothing in the
// store catches them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "UEncrypt.h"
#include "engine/UhashElem.h"

namespace contavio {

// A value line that does not convert: what() is "'%s' is not a valid integer
// value" or "'%s' is not a valid floating point value" with the line's text
// (its first 80 bytes followed by "..." when it is longer).
class ConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The file system refused: what() is the system's own message.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A header that cannot describe a real set (negative or impossible counts).
class DamagedFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The system calls through which the readers and the writer reach the disk.
// Each does what its POSIX namesake does and reports failure the same way
// (-1 with errno set). Tests install a layer of their own to make a call fail
// as a full or broken disk would.
class FileLayer {
  public:
    virtual ~FileLayer() = default;
    virtual ssize_t read(int fd, void* data, size_t size);
    virtual ssize_t write(int fd, const void* data, size_t size);
    virtual int fsync(int fd);
    virtual int rename(const char* from, const char* to);
};

// Installs layer (borrowed; must outlive its use); nullptr restores POSIX.
void setFileLayer(FileLayer* layer);
// The layer in use.
FileLayer& fileLayer();

// Writes the whole set to fileName, atomically: a temporary file in the same
// folder is written, flushed and synced, then renamed over the target. On any
// failure the old file stays as it was and a FileError is thrown. A file the
// writer creates is mode 0600; an existing file keeps its permissions.
// A symbolic link is kept: the file it names is replaced; a link that names
// no file is refused. Temporary files left by earlier saves that were killed
// (".NAME.tmp-XXXXXX" beside the target) are removed first.
// REQUIRES: set exists with its schema; key >= 32.
void saveCryptHashE(const std::string& fileName, hashElemR* set, int32_t key);

// Reads fileName into a new set stored in `set` (the caller hands an empty
// reference). A missing file shows "No se pudo abrir: " + fileName and
// returns with nothing changed. Success empties hashErrMsg and sets ERR_OK.
// A conversion error leaves the set read so far in `set`; a file cut short
// ends in one after its last whole element, wherever the cut falls. A header
// whose counts are negative, whose element block is longer than the whole
// file, or whose element count asks for a table out of all proportion to the
// file (over a million elements and over 1024 times what the file can hold)
// throws DamagedFileError before any set is made; so does an element count > 0
// with a key field that is no string field. A list count larger than the rest of the
// file, or a line holding a NUL byte, throws DamagedFileError like a
// conversion error, mid-read.
void loadCryptHashE(const std::string& fileName, hashElemR*& set, int32_t key);
void loadTextHashE(const std::string& fileName, hashElemR*& set);

}  // namespace contavio
