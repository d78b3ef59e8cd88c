// The vdir sync of a book that did not change since the last sync (reading
// the state, every card and the book's contacts, and writing nothing),
// against its floor: reading every card file of the folder once.
//   contavio_sync_bench [--size N] [--runs R] [--dir DIR]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BookGenerator.h"
#include "PlainFiles.h"
#include "Report.h"
#include "exchange/CardContact.h"
#include "exchange/VdirSync.h"

namespace contavio::bench {
namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::map<std::string, ContactData> contactBook(int64_t size) {
    std::map<std::string, ContactData> book;
    for (const Contact& g : generateBook(size, 20240853)) {
        ContactData c;
        c.firstNames = g.fields[kFieldNames];
        c.surnames = g.fields[kFieldSurnames];
        c.address = g.fields[kFieldAddress];
        c.web = g.fields[kFieldWeb];
        c.day = g.fields[kFieldDay];
        c.month = g.fields[kFieldMonth];
        c.notes = g.fields[kFieldNotes];
        c.phones = g.phones;
        c.emails = g.emails;
        book[contactKeyOf(c)] = c;
    }
    return book;
}

// The folder as a finished sync leaves it, made without syncing every card
// to disk: the cards written plainly, then one sync pairs them by key.
void fillFolder(const std::string& folder, const std::string& bookDir,
                const std::map<std::string, ContactData>& book) {
    for (const auto& [key, c] : book) {
        const std::string path = folder + "/" + contactUid(key, VCardVersion::V30) + ".vcf";
        const std::string text = exportVCards({c}, VCardVersion::V30).text;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            systemError("writing " + path);
        }
        ::close(fd);
    }
    VdirSync sync(folder, bookDir);
    SyncReport report;
    const BookChanges changes = sync.run(book, report);
    if (!changes.put.empty() || !changes.remove.empty() ||
        report.folderAdded + report.folderChanged > 0) {
        throw std::runtime_error("the first sync of the generated folder changed something");
    }
    sync.commit();
}

double readFolder(const std::string& folder, int64_t& files) {
    const auto start = Clock::now();
    files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' || entry.path().extension() != ".vcf") continue;
        int64_t bytes = 0;
        plainRead(entry.path().string(), bytes);
        ++files;
    }
    return seconds(start);
}

int run(int argc, char** argv) {
    int64_t size = 10'000;
    int runs = 5;
    std::string dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--size"))
            size = std::atoll(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
    }
    WorkDir work(dir);
    const std::string folder = work.path("vdir");
    const std::string bookDir = work.path("book");
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(bookDir);
    const auto book = contactBook(size);
    fillFolder(folder, bookDir, book);

    std::vector<double> syncs, reads;
    int64_t files = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        VdirSync sync(folder, bookDir);
        SyncReport report;
        const BookChanges changes = sync.run(book, report);
        sync.commit();
        syncs.push_back(seconds(start));
        if (!changes.put.empty() || !changes.remove.empty() ||
            report.folderAdded + report.folderChanged + report.folderRemoved > 0) {
            throw std::runtime_error("a sync without changes changed something");
        }
        reads.push_back(readFolder(folder, files));
    }
    if (files != static_cast<int64_t>(book.size())) throw std::runtime_error("cards missing");

    const double contavio = median(syncs), peer = median(reads);
    std::printf("Vdir sync: %s contacts (%s distinct keys), %s; median of %d runs\n",
                withSeparators(size).c_str(),
                withSeparators(static_cast<int64_t>(book.size())).c_str(),
                fileSystemName(folder).c_str(), runs);
    printTableHeader();
    printRow({withSeparators(size), "sync, nothing changed / read every card",
              std::to_string(runs) + "/" + std::to_string(runs), formatSeconds(contavio),
              formatSeconds(peer),
              formatSpread(syncs, contavio) + " | " + formatSpread(reads, peer),
              formatRatio(peer / contavio), "< 1 s", verdictText(contavio < 1.0)});
    printRule();
    return contavio < 1.0 ? 0 : 1;
}

}  // namespace
}  // namespace contavio::bench

int main(int argc, char** argv) {
    try {
        return contavio::bench::run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "contavio_sync_bench: %s\n", e.what());
        return 2;
    }
}
