#include "VCardOps.h"

#include <QString>
#include <QStringList>
#include <vector>

#include "Measure.h"
#include "book/ContactBook.h"
#include "book/VCardFiles.h"

namespace contavio::bench {

VCardExportRun exportToFile(TConjuntos& store, const std::string& path) {
    VCardExportRun run;
    const auto start = Clock::now();
    BookExport out = exportBook(store, kSlot, VCardVersion::V40);
    writeFileAtomically(QString::fromLocal8Bit(path.c_str()), out.text);
    run.seconds = secondsSince(start);
    run.count = out.count;
    run.text = std::move(out.text);
    return run;
}

VCardImportRun importFromFile(TConjuntos& store, const std::string& path) {
    VCardImportRun run;
    const auto start = Clock::now();
    const std::vector<CardImport> cards = readVCardFiles({QString::fromLocal8Bit(path.c_str())});
    ImportReport report;
    importCards(store, kSlot, cards, MergeRule::KeepStored, report);
    run.seconds = secondsSince(start);
    run.added = report.added;
    run.merged = report.merged;
    run.unchanged = report.unchanged;
    return run;
}

}  // namespace contavio::bench
