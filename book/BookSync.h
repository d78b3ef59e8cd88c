// The part of a sync that touches the book, shared by the command line and
// the window: a snapshot of the book for the sync engine (keyed exactly as
// the book keys its contacts), the form a contact takes once stored (for
// SyncOptions::stored), and applying the engine's changes to the book.
// The caller holds the book's lock for the whole sync.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "book/ContactBook.h"
#include "engine/Conjuntos.h"
#include "exchange/SyncEngine.h"

namespace contavio {

// order: how the caller holds the book's lists (ContactBook.h); the command
// line, which reads the book from its file, holds them TailFirst.

// Every contact of the book's contact slot, by the book's key.
BookContacts bookContacts(TConjuntos& sets, ListOrder order = ListOrder::TailFirst);

// A function for SyncOptions::stored: a contact as the book holds it once
// stored ("n/a" for an empty name, blanks kept), so that the engine keys it
// exactly as the book will. Usable from one thread at a time.
std::function<ContactData(const ContactData&)> storedForm(ListOrder order = ListOrder::TailFirst);

// Removes, then puts, the engine's changes into the book's contact slot.
// Does not save the book.
void applyBookChanges(TConjuntos& sets, const BookChanges& changes,
                      ListOrder order = ListOrder::TailFirst);

// The report's seven counts put into `format` as %1..%7: store added,
// changed, removed; book added, changed, removed; conflicts.
QString withCounts(const QString& format, const SyncReport& report);

// The folder of the book's file, absolute: where its sync states go.
std::string bookFolderOf(const std::string& dataFile);

}  // namespace contavio
