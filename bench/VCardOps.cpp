#include "VCardOps.h"

#include <QString>
#include <QStringList>
#include <vector>

#include "ContactBook.h"
#include "Measure.h"
#include "VCardFiles.h"

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
