// The record store's side of each measurement, driven the way the contact
// book drives it: through one TConjuntos and its slot 0.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BookGenerator.h"
#include "engine/Conjuntos.h"

namespace contavio::bench {

inline constexpr int32_t kSlot = 0;
inline constexpr int32_t kCipherKey = 853;
inline constexpr const char* kSetName = "Contacto";

using Clock = std::chrono::steady_clock;

// 8 string fields, 2 string lists, nothing else.
TprotoData contactProto();

// An empty contact set in slot 0 with the given number of buckets.
void newContactSet(TConjuntos& store, int32_t buckets);

// Adds every contact of the book one by one, as the editor's "Agregar" does:
// newObj, setObjData, addObjListItem per e-mail and telephone, commitObj in
// mode 0, releaseObj. Gives up and returns false once `deadline` has passed
// (the clock is read every 256 contacts).
bool commitContacts(TConjuntos& store, const TprotoData& proto, const std::vector<Contact>& book,
                    Clock::time_point deadline);

// What a search hands to its caller: the list box's lines and the two holders.
struct StoreListing {
    VectorLineList lines;
    std::optional<sVector> texts;
    std::optional<sVector> keys;
};

// search over the three search fields with the three display fields, then
// listResults; the number of results.
int64_t searchAndList(TConjuntos& store, const std::string& text, StoreListing& out);

// Runs a search that finds nothing, so that the results a later search
// replaces are small and freeing them costs that search nothing.
void dropResults(TConjuntos& store);

// Every contact of slot 0 in chain order, with its e-mails and telephones in
// the order that adds them back as they are (the lists are stacks), so that
// commitContacts builds the same set again. Reads a book from a file.
std::vector<Contact> contactsOf(const TConjuntos& store);

// The number of contacts in slot 0, or -1 when the slot is empty.
int64_t setCount(const TConjuntos& store);

}  // namespace contavio::bench
