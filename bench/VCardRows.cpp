// The rows of the window's vCard export and import against plain file I/O.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "Peers.h"
#include "Rows.h"
#include "VCardOps.h"

namespace contavio::bench {

// The window's "Exportar vCard..." of the whole book (exportBook, then the
// atomic write), against a plain atomic write of the same bytes; and its
// "Importar vCard..." of a file of cards for a tenth of the book (the file
// read and its cards parsed, then importCards) into a set loaded and
// searched as start-up leaves it, against a plain read of the same file.
void Bench::vcardRows(SizeContext& ctx) {
    ctx.progress("vCard export");
    const std::string exportPath = dir_.path("book.vcf");
    std::string exported;
    const Samples ce =
        side("vcard export", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            VCardExportRun run = exportToFile(ctx.base, exportPath);
            expectSame("vCard export: cards against contacts in the set", run.count, ctx.expected);
            if (exported.empty()) {
                exported = std::move(run.text);
            } else if (exported != run.text) {
                throw Mismatch("exporting the same book twice gave files that differ");
            }
            return run.seconds;
        });
    Samples pe;
    pe.skipped = true;
    if (!exported.empty()) {
        pe = side("vcard export/peer", ctx.size, exportPeer(exportPath, exported));
    }
    emitThroughputRow(ctx, "vCard export", ce, pe, static_cast<double>(exported.size()),
                      std::nullopt);
    exported = std::string();

    ctx.progress("vCard import");
    const int64_t n = std::max<int64_t>(ctx.size / 10, 1);
    const std::string cardsPath = dir_.path("cards.vcf");
    int cards = 0;
    {
        TConjuntos source(1);
        newContactSet(source, static_cast<int32_t>(2 * n + 1));
        commitContacts(source, ctx.proto, generateBook(n, options_.seed + 2),
                       Clock::time_point::max());
        cards = exportToFile(source, cardsPath).count;
    }
    const double cardBytes = static_cast<double>(readWholeFile(cardsPath).size());
    std::optional<VCardImportRun> first;
    const Samples ci =
        side("vcard import", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            auto store = std::make_unique<TConjuntos>(1);
            store->loadCrypt(ctx.loadPath, kSlot, kCipherKey);
            auto listing = std::make_unique<StoreListing>();
            searchAndList(*store, "", *listing);
            const VCardImportRun run = importFromFile(*store, cardsPath);
            expectSame("vCard import: cards handled against cards in the file",
                       run.added + run.merged + run.unchanged, cards);
            if (first)
                expectSame("vCard import: contacts added in two runs", run.added, first->added);
            if (!first) first = run;
            return run.seconds;
        });
    const Samples pi = side("vcard import/peer", ctx.size, importPeer(cardsPath));
    emitThroughputRow(ctx, "vCard import 10%", ci, pi, cardBytes, std::nullopt);
    if (first) {
        std::printf("%10s  vCard import: %s cards, %s added, %s merged, %s unchanged\n", "",
                    withSeparators(cards).c_str(), withSeparators(first->added).c_str(),
                    withSeparators(first->merged).c_str(),
                    withSeparators(first->unchanged).c_str());
        std::fflush(stdout);
    }
}

}  // namespace contavio::bench
