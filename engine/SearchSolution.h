// The ordered result collection of a text search. Results are listed in text
// order: bytes compared unsigned after folding 'a'..'z' onto 'A'..'Z' (no
// other byte is folded), a prefix before the longer text, and texts that
// compare equal in the order in which they were added.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Elemento.h"
#include "RawBuffer.h"

namespace contavio {

// The lines of a list box, as the listing writes them. A window fills this in
// with its own list widget; VectorLineList serves callers without a window.
class LineList {
  public:
    virtual ~LineList() = default;
    virtual void beginUpdate() = 0;
    virtual void clear() = 0;
    virtual void add(const std::string& line) = 0;
    virtual void endUpdate() = 0;
};

class VectorLineList : public LineList {
  public:
    void beginUpdate() override {}
    void clear() override { lines.clear(); }
    void add(const std::string& line) override { lines.push_back(line); }
    void endUpdate() override {}

    std::vector<std::string> lines;
};

// One result: copies (copyStr) of the element's key and display text.
struct SSolData {
    std::string key;
    std::string text;  // display text, also the sort key
};

// The collection owns its results. They are kept in the order added and put
// in text order (a stable sort, so equal texts keep that order) when listed;
// nothing recurses per result and placing costs no more than a sort. Keys
// and texts live in one buffer, so a large result costs few allocations.
struct SSol {
    struct Item {
        size_t keyAt;
        uint32_t keySize;
        uint32_t textSize;  // the text follows the key in `bytes`
    };
    RawBuffer bytes;          // every result's key then its text (a large result is
                              // filled at once, by two threads)
    std::vector<Item> items;  // in the order added, or in text order once sorted
    int32_t count = 0;
    bool sorted = true;  // items already in text order

    std::string_view keyOf(const Item& item) const {
        return {bytes.data() + item.keyAt, item.keySize};
    }
    std::string_view textOf(const Item& item) const {
        return {bytes.data() + item.keyAt + item.keySize, item.textSize};
    }
    // Appends a result whose key and text hold no NUL byte.
    void append(std::string_view key, std::string_view text);
};

// The line shown when a listing has no results (with its trailing blank).
inline constexpr const char* kNoMatchesLine = "No se encontraron coincidencias... ";

// <0, 0, >0 as a sorts before, equal to, or after b in text order.
int compareSSolText(std::string_view a, std::string_view b);

std::unique_ptr<SSol> newSSol();
// Adds copyStr(key) and copyStr(text) as one result; count + 1.
void addSSol(SSol* sol, const std::string& key, const std::string& text);
int32_t countSSol(const SSol* sol);
// Clears lines and writes the results in text order, each display text as a
// line; texts and keys get new arrays of count entries, line for line.
// Without results: the single line kNoMatchesLine, and both holders none.
// Whatever the holders held before is released.
void listSSol(SSol* sol, LineList& lines, std::optional<sVector>& texts,
              std::optional<sVector>& keys);

}  // namespace contavio
