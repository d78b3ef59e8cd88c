// The restore command of contavio-book: what a sync kept before it deleted or
// rewrote something (a dated folder of contavio-sync-kept: agenda.vcf and
// tarjetas/NAME.vcf) put back as it was.
#pragma once

#include "SyncCommand.h"

namespace contavio::cli {

// restore CARPETA_GUARDADA [CARPETA_SINCRONIZADA]. Each contact of agenda.vcf
// replaces the book's contact with its names (or comes back when it was
// deleted) exactly as it was kept; with the second folder, each kept card is
// written back there under its own file name.
int runRestore(const BookPlace& place, const Arguments& args, const OpenForWriting& open,
               const SaveBook& save);

}  // namespace contavio::cli
