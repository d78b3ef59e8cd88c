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

}  // namespace contavio
