// Syncs a book kept in a database file with a vdir, as the command-line
// program does: run, store the changes, save the book, commit; the state and
// the kept copies go beside the book. The kill test of the sync starts it and
// kills it at random moments.
//   sync_killer BOOK FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>

#include "BookFile.h"
#include "exchange/VdirSync.h"

int main(int argc, char** argv) {
    using namespace contavio;
    if (argc != 3) {
        std::fprintf(stderr, "usage: sync_killer BOOK FOLDER\n");
        return 2;
    }
    try {
        BookMap book = loadBookFile(argv[1]);
        VdirSync vdir(argv[2], std::filesystem::path(argv[1]).parent_path().string());
        SyncReport report;
        const BookChanges changes = vdir.run(book, report);
        for (const std::string& key : changes.remove) book.erase(key);
        for (const ContactData& c : changes.put) book[contactKeyOf(c)] = c;
        if (!changes.empty()) saveBookFile(argv[1], book);
        vdir.commit();
        std::printf("folder +%d ~%d -%d, book +%d ~%d -%d, conflicts %d\n", report.folderAdded,
                    report.folderChanged, report.folderRemoved, report.bookAdded,
                    report.bookChanged, report.bookRemoved, report.conflicts);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sync_killer: %s\n", e.what());
        return 1;
    }
    return 0;
}
