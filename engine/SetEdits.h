// Edits of elements that sets own, so that each set's search cache can tell
// whether one of its own elements changed since it was made, and update just
// those entries, instead of being made anew whenever any element of any set
// changed.
//
// TElem::setStr notes each edit of an element owned by a set; the count of
// edits is gSetElemEdits (Elemento.h). The most recent edits are kept in a
// log shared by all threads; a cache older than the log makes itself anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace contavio {

class TElem;

// How many edits the log keeps: more edits than this between two searches
// of a set make its cache anew.
inline constexpr std::size_t kSetEditLog = 4096;

// Counts an edit of elem, which a set owns. Any thread.
void noteSetElemEdit(const TElem* elem);

// The elements edited after the count was `since` (an element may be gone
// since; it is only compared, never read), sorted, and the count now in
// `now`. False, with edited left empty, when the log does not reach back to
// `since`.
bool setElemEditsSince(uint64_t since, uint64_t& now, std::vector<const TElem*>& edited);

}  // namespace contavio
