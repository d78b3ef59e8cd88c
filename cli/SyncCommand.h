// The sync command of contavio-book: the book with a folder of vCards.
#pragma once

#include <functional>
#include <memory>

#include "Commands.h"
#include "book/BookFiles.h"
#include "engine/Conjuntos.h"

namespace contavio::cli {

// How the commands open a book for a change and save it (Commands.cpp):
// null or false when refused or failed, said on standard error.
using OpenForWriting = std::function<std::unique_ptr<TConjuntos>(BookFiles&)>;
using SaveBook = std::function<bool(BookFiles&, TConjuntos&)>;

// sync [--dry-run] [--force-delete] CARPETA. Refuses where there is no book:
// a sync never starts one.
int runSync(const BookPlace& place, const Arguments& args, const OpenForWriting& open,
            const SaveBook& save);

}  // namespace contavio::cli
