// The vdir sync of a book that did not change since the last sync (reading
// the state, every card and the book's contacts, and writing nothing),
// against its floor: reading every card file of the folder once. With
// --photos KB every card carries a photo of that size, as a phone's do, and
// each sync runs in a process of its own whose peak memory is measured
// against the size of the folder's cards.
//   contavio_sync_bench [--size N] [--runs R] [--dir DIR] [--photos KB]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
// A photo's property: kb kilobytes of base64, folded as vCard 3.0 folds.
std::string photoLine(int64_t kb, uint32_t seed) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line = "PHOTO;ENCODING=b;TYPE=JPEG:";
    for (int64_t i = 0; i < kb * 1024; ++i) {
        seed = seed * 1664525u + 1013904223u;
        line += kDigits[seed >> 26];
        if ((i + 27) % 74 == 73) line += "\r\n ";
    }
    return line + "\r\n";
}

void fillFolder(const std::string& folder, const std::string& bookDir,
                const std::map<std::string, ContactData>& book, int64_t photoKb) {
    uint32_t seed = 1;
    for (const auto& [key, c] : book) {
        const std::string path = folder + "/" + contactUid(key, VCardVersion::V30) + ".vcf";
        std::string text = exportVCards({c}, VCardVersion::V30).text;
        if (photoKb > 0) text.insert(text.rfind("END:VCARD"), photoLine(photoKb, seed++));
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

// A line of /proc/self/status in kB ("VmHWM", "VmRSS"), or 0.
int64_t statusKb(const char* field) {
    int64_t kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t n = std::strlen(field);
        while (std::fgets(line, sizeof line, f)) {
            if (!std::strncmp(line, field, n) && line[n] == ':') kb = std::atoll(line + n + 1);
        }
        std::fclose(f);
    }
    return kb;
}

// One sync in a process of its own: its time, and the growth of its peak
// resident memory over what it held when it started (the peak is reset
// there, through /proc/self/clear_refs), in kB; -1 when the sync changed
// something.
int64_t syncInChild(const std::string& folder, const std::string& bookDir,
                    const std::map<std::string, ContactData>& book, double& elapsed) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) systemError("pipe");
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) systemError("fork");
    if (child == 0) {
        ::close(pipeFds[0]);
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        const int64_t base = statusKb("VmRSS");
        VdirSync sync(folder, bookDir);
        SyncReport report;
        const BookChanges changes = sync.run(book, report);
        sync.commit();
        const bool idle = changes.put.empty() && changes.remove.empty() &&
                          report.folderAdded + report.folderChanged + report.folderRemoved == 0;
        const int64_t grown = idle ? std::max<int64_t>(statusKb("VmHWM") - base, 0) : -1;
        if (::write(pipeFds[1], &grown, sizeof grown) != sizeof grown) std::_Exit(2);
        std::_Exit(0);
    }
    ::close(pipeFds[1]);
    int64_t grown = -1;
    if (::read(pipeFds[0], &grown, sizeof grown) != sizeof grown) grown = -1;
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    elapsed = seconds(start);
    return grown;
}

int runWithPhotos(const std::string& folder, const std::string& bookDir,
                  const std::map<std::string, ContactData>& book, int runs, int64_t photoKb) {
    std::vector<double> syncs, reads, peaks;
    int64_t files = 0, folderBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".vcf") folderBytes += entry.file_size();
    }
    for (int r = 0; r < runs; ++r) {
        double elapsed = 0;
        const int64_t grown = syncInChild(folder, bookDir, book, elapsed);
        if (grown < 0) throw std::runtime_error("a sync without changes changed something");
        syncs.push_back(elapsed);
        peaks.push_back(static_cast<double>(grown) * 1024);
        reads.push_back(readFolder(folder, files));
    }
    int64_t stateBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(bookDir)) {
        if (entry.path().filename().string().starts_with(".contavio-sync-"))
            stateBytes += entry.file_size();
    }
    const double contavio = median(syncs), peer = median(reads), peak = median(peaks);
    std::printf(
        "Vdir sync: %s contacts with photos of %s KB, folder %.1f MB, state %.1f MB; "
        "median of %d runs, each in a process of its own\n",
        withSeparators(static_cast<int64_t>(book.size())).c_str(), withSeparators(photoKb).c_str(),
        folderBytes / 1e6, stateBytes / 1e6, runs);
    printTableHeader();
    printRow({withSeparators(static_cast<int64_t>(book.size())),
              "sync, nothing changed / read every card",
              std::to_string(runs) + "/" + std::to_string(runs), formatSeconds(contavio),
              formatSeconds(peer),
              formatSpread(syncs, contavio) + " | " + formatSpread(reads, peer),
              formatRatio(peer / contavio), "-", "-"});
    printRow({withSeparators(static_cast<int64_t>(book.size())), "peak memory / the folder's size",
              std::to_string(runs) + "/" + std::to_string(runs),
              withSeparators(static_cast<int64_t>(peak / 1e6)) + " MB",
              withSeparators(folderBytes / 1'000'000) + " MB", formatSpread(peaks, peak),
              formatRatio(static_cast<double>(folderBytes) / std::max(peak, 1.0)), "-", "-"});
    printRule();
    return 0;
}

int run(int argc, char** argv) {
    int64_t size = 10'000, photoKb = 0;
    int runs = 5;
    std::string dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--size"))
            size = std::atoll(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
        else if (!std::strcmp(argv[i], "--photos"))
            photoKb = std::atoll(argv[i + 1]);
    }
    WorkDir work(dir);
    const std::string folder = work.path("vdir");
    const std::string bookDir = work.path("book");
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(bookDir);
    const auto book = contactBook(size);
    fillFolder(folder, bookDir, book, photoKb);
    if (photoKb > 0) return runWithPhotos(folder, bookDir, book, runs, photoKb);

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
