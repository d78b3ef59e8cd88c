// The commands of contavio-book. Each takes the book's place and the
// command's own arguments, and returns the exit status: 0 done, 1 failed
// (said on standard error), 2 bad usage.
#pragma once

#include <string>
#include <vector>

namespace contavio::cli {

struct BookPlace {
    std::string folder;                 // "" is the working folder
    std::string dataName = "data.vlt";  // the encrypted file in it
};

using Arguments = std::vector<std::string>;

int exportCommand(const BookPlace& place, const Arguments& args);
int importCommand(const BookPlace& place, const Arguments& args);
int listCommand(const BookPlace& place, const Arguments& args);
int queryCommand(const BookPlace& place, const Arguments& args);
int checkCommand(const BookPlace& place, const Arguments& args);
int deleteCommand(const BookPlace& place, const Arguments& args);
int syncCommand(const BookPlace& place, const Arguments& args);
int restoreCommand(const BookPlace& place, const Arguments& args);

// The usage text of a command ("" for the program's own), or none.
const char* usageOf(const std::string& command);

}  // namespace contavio::cli
