// vCard files of the book, for the window's "Importar vCard..." and
// "Exportar vCard..." and for contavio-book: reading cards from files,
// writing the whole book as one file, and the short report of an import.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "ContactBook.h"
#include "exchange/CardContact.h"

namespace contavio {

// The cards of every file, in order; a damaged card's damage names its file
// and its place there. Throws std::runtime_error naming the file when one
// cannot be read or holds no card; then nothing was imported.
std::vector<CardImport> readVCardFiles(const QStringList& files);

// Every contact of the book (in the order of bookKeys) as one vCard text,
// with each contact's export warnings prefixed by its names.
struct BookExport {
    std::string text;
    int count = 0;
    std::vector<std::string> warnings;  // Windows-1252
};
BookExport exportBook(TConjuntos& sets, int32_t slot, VCardVersion version,
                      ListOrder order = ListOrder::HeadFirst);

// Writes bytes to file atomically (a new file renamed over it). Throws
// std::runtime_error naming the file.
void writeFileAtomically(const QString& file, const std::string& bytes);

// "añadidos N, combinados N, sin cambios N, avisos N", and ", dañadas N"
// when cards were left out.
QString importSummary(const ImportReport& report);

// The lines of an import's report, Windows-1252: "dañada: ..." for each card
// left out, "combinado: Names Surnames" for each merged contact, then the
// warnings.
std::vector<std::string> importLines(const ImportReport& report);

}  // namespace contavio
