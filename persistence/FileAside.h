// Copies of a book's files kept aside under new names, so that nothing the
// program replaces or deletes is lost, and fresh names for files it makes
// beside them. Names are BASE-YYYYMMDD-HHMMSS in local time, with -2, -3 ...
// appended while one is taken.
#pragma once

#include <string>

namespace contavio {

// The first such name beside which no file, folder or link exists yet.
std::string freshName(const std::string& base);

// Copies the bytes of `file` to a new file under the first free name of
// freshName(base), created exclusively (a link planted at that name is never
// followed), with the permission bits of `file`, and synced to the disk.
// Returns the name. Reads and writes go through fileLayer(). Throws FileError
// with the system's message when `file` cannot be read or the copy cannot be
// written; a partial copy is removed.
std::string copyAside(const std::string& file, const std::string& base);

// Like copyAside, but when a file kept earlier under a name of
// freshName(base)'s form (a regular file, not a link) holds the same bytes
// as `file`, nothing is copied and its name is returned: a file kept at
// every start that ends without a save is kept once.
std::string keepAside(const std::string& file, const std::string& base);

}  // namespace contavio
