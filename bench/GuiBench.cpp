// Measures the main window with a large book on Qt's offscreen platform:
// start-up to the first shown window (loading "data.vlt", the first search
// and the results list), "Buscar" listing every contact while the listing
// of start-up is still shown (freeing it is part of the click), then
// "Buscar" for kFivePercentFragment typed into the search field (about 5%
// of a generated book; the same text for a book of one's own), and the
// close-down (GuiClose.h). Every run is a fresh process (this program
// started again with kRunFlag or kCloseFlag), as a person starting the
// program gets it. Peers, measured in the same run: a fresh process reading
// the same file (start-up), a list box of the same lines cleared and filled
// again (Buscar), the same list box cleared and filled with the lines found
// (search 5%), and an atomic write of the same bytes (close).
//
//   contavio_gui_bench [--runs N] [--book FILE] [SIZE...]  (default: 100000 1000000)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BookGenerator.h"
#include "GuiClose.h"
#include "GuiProcess.h"
#include "Report.h"
#include "StoreOps.h"
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/Main.h"
#include "engine/Conjuntos.h"

using namespace contavio;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kRunFlag = "--run-in";

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Bytes resident in this process (VmRSS).
int64_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

// The contacts of a book's set, and the results of a search for
// kFivePercentFragment in it: what the window's search must list.
struct BookCounts {
    int64_t contacts = 0;
    int64_t matches = 0;
};

BookCounts countBook(TConjuntos& store) {
    bench::StoreListing listing;
    const int64_t matches = bench::searchAndList(store, bench::kFivePercentFragment, listing);
    return {countHashE(store.sets[0]), matches};
}

// A "data.vlt" of `size` generated contacts in folder.
BookCounts writeBook(const std::filesystem::path& folder, int64_t size) {
    const auto book = bench::generateBook(size, 20261207);
    TConjuntos store(1);
    bench::newContactSet(store, 256);
    bench::commitContacts(store, bench::contactProto(), book, Clock::time_point::max());
    store.saveCrypt((folder / "data.vlt").string(), 0, 853);
    return countBook(store);
}

BookCounts readBook(const std::filesystem::path& file) {
    TConjuntos store(1);
    store.loadCrypt(file.string(), 0, 853);
    if (store.isEmpty(0)) throw std::runtime_error(file.string() + " holds no contact set");
    return countBook(store);
}

// The lines the results list shows.
QStringList shownLines(const QAbstractItemView* results) {
    QStringList lines;
    const int rows = results->model()->rowCount();
    lines.reserve(rows);
    for (int i = 0; i < rows; ++i) lines.append(results->model()->index(i, 0).data().toString());
    return lines;
}

// One run, in the fresh process, in the folder of the book: prints
// "RUN startup-ms buscar-ms listed resident-growth read-ms peer-buscar-ms
// search-ms found peer-search-ms".
int runOnce(TApplication& app) {
    (void)app;
    // The peer of start-up first: the process is as fresh, and the file as
    // cached. read() of the whole file into one buffer.
    const auto read = Clock::now();
    {
        const int fd = ::open("data.vlt", O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) throw std::runtime_error("cannot read data.vlt");
        std::unique_ptr<char[]> bytes(new char[static_cast<size_t>(st.st_size)]);
        size_t done = 0;
        while (done < static_cast<size_t>(st.st_size)) {
            const ssize_t n =
                ::read(fd, bytes.get() + done, static_cast<size_t>(st.st_size) - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        if (done != static_cast<size_t>(st.st_size)) std::fprintf(stderr, "short read\n");
    }
    const double readMs = msSince(read);

    const int64_t before = residentBytes();
    const auto start = Clock::now();
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) std::fprintf(stderr, "window not exposed\n");
    const double startupMs = msSince(start);
    // What the window queued once shown (the work start-up leaves for later)
    // runs before the first click, as it does while a person reads the
    // window; the memory is read after it.
    QTest::qWait(0);
    const int64_t held = residentBytes() - before;

    auto* buscar = form->findChild<QPushButton*>("Button3");
    auto* results = form->findChild<QAbstractItemView*>("ListBox3");
    const auto clicked = Clock::now();
    buscar->click();
    QCoreApplication::processEvents();
    const double buscarMs = msSince(clicked);
    const int listed = results->model()->rowCount();

    // The text typed as a person types it, then the click.
    auto* field = form->findChild<QLineEdit*>("LabeledEdit7");
    QTest::keyClicks(field, QString::fromLatin1(bench::kFivePercentFragment));
    const auto searched = Clock::now();
    buscar->click();
    QCoreApplication::processEvents();
    const double searchMs = msSince(searched);
    const QStringList found = shownLines(results);

    // Every contact listed again for the peers, untimed.
    field->clear();
    buscar->click();
    const QStringList lines = shownLines(results);
    if (lines.size() != listed) {
        std::fprintf(stderr, "listed %d, then %lld\n", listed,
                     static_cast<long long>(lines.size()));
    }
    form.reset();  // no close-down: the book on disk stays as it was

    // The peer of "Buscar": a list box holding the same lines, cleared and
    // filled again in one insertion, as the window fills its own.
    QListWidget box;
    box.addItems(lines);
    const auto refill = Clock::now();
    box.setUpdatesEnabled(false);
    box.clear();
    box.addItems(lines);
    box.setUpdatesEnabled(true);
    QCoreApplication::processEvents();
    const double peerMs = msSince(refill);
    // The peer of the search: the same box, cleared and filled with the lines found.
    const auto narrow = Clock::now();
    box.setUpdatesEnabled(false);
    box.clear();
    box.addItems(found);
    box.setUpdatesEnabled(true);
    QCoreApplication::processEvents();
    const double peerSearchMs = msSince(narrow);

    std::printf("RUN %.3f %.3f %d %lld %.3f %.3f %.3f %lld %.3f\n", startupMs, buscarMs, listed,
                static_cast<long long>(held), readMs, peerMs, searchMs,
                static_cast<long long>(found.size()), peerSearchMs);
    std::fflush(stdout);
    return 0;
}

struct RunReading {
    double startupMs = 0, buscarMs = 0, readMs = 0, peerMs = 0;
    double searchMs = 0, peerSearchMs = 0;
    int listed = 0, found = 0;
    int64_t held = 0;
};

// Starts this program again in folder for one run and reads its line.
RunReading runFresh(const std::string& self, const std::filesystem::path& folder) {
    const std::string output = bench::runInFreshProcess(self, kRunFlag, folder).output;
    RunReading r;
    long long held = 0;
    const size_t at = output.find("RUN ");
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at, "RUN %lf %lf %d %lld %lf %lf %lf %d %lf", &r.startupMs,
                    &r.buscarMs, &r.listed, &held, &r.readMs, &r.peerMs, &r.searchMs, &r.found,
                    &r.peerSearchMs) != 9) {
        throw std::runtime_error("the run's process printed no reading: " + output);
    }
    r.held = held;
    return r;
}

// The book's folder, removed when a size is done or a run failed.
struct RemovedAtEnd {
    std::filesystem::path folder;
    ~RemovedAtEnd() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// One timed row: the medians of both sides and the spread of their runs.
void printRow(const std::string& size, const std::string& op, const std::vector<double>& runs,
              const std::vector<double>& peer, const char* target, std::optional<bool> met) {
    const double ms = median(runs), peerMs = median(peer);
    const std::string spread =
        bench::formatSpread(runs, ms) + " | " + bench::formatSpread(peer, peerMs);
    const char* verdict = !met ? "-" : *met ? "met" : "not met";
    std::printf("%12s  %-34s %6zu %11.1f ms %11.1f ms  %-20s %8.2fx %10s  %s\n", size.c_str(),
                op.c_str(), runs.size(), ms, peerMs, spread.c_str(), ms > 0 ? peerMs / ms : 0.0,
                target, verdict);
}

}  // namespace

int main(int argc, char** argv) try {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    prepareApplication();
    setMessagePresenter([](const MessageRequest& request) {
        std::fprintf(stderr, "message: %s\n", request.text.toLocal8Bit().constData());
        return 0;
    });

    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String(kRunFlag)) {
        std::filesystem::current_path(args[2].toStdString());
        return runOnce(app);
    }
    if (args.size() == 3 && args[1] == QLatin1String(bench::kCloseFlag)) {
        std::filesystem::current_path(args[2].toStdString());
        return bench::closeOnce();
    }

    int runs = 3;
    std::vector<int64_t> sizes;
    std::string book;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else if (args[i] == "--book" && i + 1 < args.size()) {
            book = std::filesystem::absolute(args[++i].toStdString()).string();
            if (!std::filesystem::is_regular_file(book)) {
                std::fprintf(stderr, "contavio_gui_bench: cannot read %s\n", book.c_str());
                return 1;
            }
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::printf("usage: contavio_gui_bench [--runs N] [--book FILE] [SIZE...]\n");
            return 0;
        } else {
            sizes.push_back(args[i].toLongLong());
        }
    }
    if (sizes.empty() && book.empty()) sizes = {100000, 1000000};
    // A book of one's own is measured once, as size 0 stands for it.
    if (!book.empty()) sizes = {0};

    std::printf(
        "every run in a fresh process; medians of %d runs; ratio = peer / Contavio;\n"
        "spread: the fastest and the slowest run against the median, Contavio | peer:\n"
        "       \"-4/+12%%\" is 4%% under it and 12%% over it; - for fewer than 2 runs\n",
        runs);
    std::printf(
        "peers: start-up - the same process reading data.vlt into memory first (read());\n"
        "       Buscar - a list box holding the same lines, cleared and filled again;\n"
        "       search 5%% - that list box cleared and filled with the lines found;\n"
        "       close - the close's process writing the bytes of data.vlt first (write(),\n"
        "       fsync(), rename())\n"
        "Buscar, memory: after the work the shown window queued for later has run\n"
        "search 5%%: '%s' typed into the search field after \"Buscar\" listed every\n"
        "       contact (about 5%% of a generated book; the same text for --book)\n"
        "close: \"Salir\" with the start-up listing held, on a copy of data.vlt, until the\n"
        "       window is hidden and until the process has ended; the copy must be saved\n",
        bench::kFivePercentFragment);
    std::printf("%12s  %-34s %6s %14s %14s  %-20s %9s %10s  %s\n", "size", "operation", "runs",
                "median", "peer", "spread", "ratio", "target", "verdict");
    for (int64_t size : sizes) {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("contavio-gui-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const RemovedAtEnd removed{folder};
        BookCounts counts;
        if (book.empty()) {
            counts = writeBook(folder, size);
        } else {
            // A copy: the window takes the book's lock and might keep damaged files aside.
            std::filesystem::copy_file(book, folder / "data.vlt",
                                       std::filesystem::copy_options::overwrite_existing);
            counts = readBook(folder / "data.vlt");
        }
        const double fileBytes =
            static_cast<double>(std::filesystem::file_size(folder / "data.vlt"));
        const int expectedFound = static_cast<int>(std::max<int64_t>(counts.matches, 1));

        std::vector<double> startup, buscar, read, peer, search, peerSearch, held;
        std::vector<double> hidden, ended, write;
        int listed = 0, questions = 0;
        for (int r = 0; r < runs; ++r) {
            const RunReading reading = runFresh(args[0].toStdString(), folder);
            if (reading.found != expectedFound) {
                throw std::runtime_error(
                    "the search for '" + std::string(bench::kFivePercentFragment) + "' listed " +
                    std::to_string(reading.found) + " lines, the store finds " +
                    std::to_string(counts.matches));
            }
            startup.push_back(reading.startupMs);
            buscar.push_back(reading.buscarMs);
            read.push_back(reading.readMs);
            peer.push_back(reading.peerMs);
            search.push_back(reading.searchMs);
            peerSearch.push_back(reading.peerSearchMs);
            held.push_back(static_cast<double>(reading.held));
            listed = reading.listed;

            const bench::CloseReading close =
                bench::measureClose(args[0].toStdString(), folder / "data.vlt", folder / "close");
            if (close.listed != listed) {
                throw std::runtime_error("the close's window listed " +
                                         std::to_string(close.listed) + " lines at start-up, not " +
                                         std::to_string(listed));
            }
            hidden.push_back(close.hiddenMs);
            ended.push_back(close.endedMs);
            write.push_back(close.peerMs);
            questions += close.questions;
        }
        const int64_t contacts = counts.contacts;
        const std::string sizeCell = book.empty() ? std::to_string(size) : "book";
        const bool tracked = size == 100000;
        const bool large = size == 1000000;
        const auto within = [](const std::vector<double>& ms, double limit) {
            return std::optional<bool>(median(ms) <= limit);
        };
        // The targets a person with a large book should meet.
        const auto target = [&](double at100k, double at1m) -> std::optional<double> {
            if (tracked) return at100k;
            if (large) return at1m;
            return std::nullopt;
        };
        const auto cell = [](std::optional<double> limit) {
            if (!limit) return std::string("-");
            char text[32];
            if (*limit >= 1000) {
                std::snprintf(text, sizeof text, "<= %.1f s", *limit / 1000);
            } else {
                std::snprintf(text, sizeof text, "<= %.0f ms", *limit);
            }
            return std::string(text);
        };
        const std::optional<double> startLimit = target(150, 1200);
        const std::optional<double> buscarLimit = target(20, 150);
        printRow(sizeCell, "start-up to the first shown window", startup, read,
                 cell(startLimit).c_str(),
                 startLimit ? within(startup, *startLimit) : std::nullopt);
        printRow(sizeCell, "\"Buscar\" listing every contact", buscar, peer,
                 cell(buscarLimit).c_str(),
                 buscarLimit ? within(buscar, *buscarLimit) : std::nullopt);
        printRow(sizeCell,
                 "search 5%: \"Buscar\" for '" + std::string(bench::kFivePercentFragment) + "'",
                 search, peerSearch, large ? "<= 50 ms" : "-",
                 large ? within(search, 50) : std::nullopt);
        // The close: 120 ms at 100,000 contacts, a second at 1,000,000.
        std::optional<double> closeLimit;
        if (tracked) closeLimit = 120;
        if (large) closeLimit = 1000;
        const char* closeTarget = large ? "<= 1.0 s" : tracked ? "<= 120 ms" : "-";
        printRow(sizeCell, "close: request to window hidden", hidden, write, closeTarget,
                 closeLimit ? within(hidden, *closeLimit) : std::nullopt);
        printRow(sizeCell, "close: request to process ended", ended, write, closeTarget,
                 closeLimit ? within(ended, *closeLimit) : std::nullopt);
        const double m = median(held);
        std::printf("%12s  %-34s %6d %11.1f MB  %.0f B/contact, %.2fx data.vlt (%.1f MB)%s\n",
                    sizeCell.c_str(), "memory after start-up (resident)", runs, m / 1e6,
                    contacts > 0 ? m / static_cast<double>(contacts) : 0.0, m / fileBytes,
                    fileBytes / 1e6,
                    !large                 ? ""
                    : m <= 4.5 * fileBytes ? "; target <= 4.5x: met"
                                           : "; target <= 4.5x: not met");
        std::printf(
            "%12s  (%lld contacts in the set, %d lines listed; '%s' matched %lld, %.1f%%)\n", "",
            static_cast<long long>(contacts), listed, bench::kFivePercentFragment,
            static_cast<long long>(counts.matches),
            contacts > 0
                ? 100.0 * static_cast<double>(counts.matches) / static_cast<double>(contacts)
                : 0.0);
        if (questions > 0) {
            std::printf("%12s  (the closes asked %d questions, shown on standard error)\n", "",
                        questions);
        }
        std::fflush(stdout);
    }
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "contavio_gui_bench: %s\n", error.what());
    return 1;
}
