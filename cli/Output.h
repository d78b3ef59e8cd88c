// What contavio-book writes: results on standard output, messages and
// progress on standard error, texts of the book (Windows-1252) in the
// terminal's encoding.
#pragma once

#include <QString>
#include <string>

namespace contavio::cli {

// A line on standard output; the book's text converted.
void printBookLine(const std::string& ansi);
void printLine(const QString& text);
// A message on standard error.
void tell(const QString& text);
void tellBook(const std::string& ansi);

// "\rWHAT: done/total" on standard error, only when it is a terminal and
// the work is long; a last call with done == total ends the line.
class Progress {
  public:
    Progress(const char* what, size_t total);
    void step(size_t done);
    ~Progress();

  private:
    const char* what_;
    size_t total_;
    bool shown_;
    size_t last_ = 0;
};

}  // namespace contavio::cli
