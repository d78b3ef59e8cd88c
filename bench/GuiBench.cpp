// Measures the main window with a large book on Qt's offscreen platform:
// start-up to the first shown window (loading "data.vlt", the first search
// and the results list), and "Buscar" listing every contact while the
// listing of start-up is still shown (freeing it is part of the click).
// Every run is a fresh process (this program started again with
// kRunFlag), as a person starting the program gets it. Peers, measured in
// the same run: a fresh process reading the same file (start-up), and a
// list box of the same lines cleared and filled again (Buscar).
//
//   contavio_gui_bench [--runs N] [--book FILE] [SIZE...]  (default: 100000 1000000)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
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
#include <stdexcept>
#include <string>
#include <vector>

#include "Application.h"
#include "BookGenerator.h"
#include "Dialogs.h"
#include "Main.h"
#include "StoreOps.h"
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

// A "data.vlt" of `size` generated contacts in folder.
int64_t writeBook(const std::filesystem::path& folder, int64_t size) {
    const auto book = bench::generateBook(size, 20261207);
    TConjuntos store(1);
    bench::newContactSet(store, 256);
    bench::commitContacts(store, bench::contactProto(), book, Clock::time_point::max());
    store.saveCrypt((folder / "data.vlt").string(), 0, 853);
    return countHashE(store.sets[0]);
}

// One run, in the fresh process, in the folder of the book: prints
// "RUN startup-ms buscar-ms listed resident-growth read-ms peer-buscar-ms".
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
    const int64_t held = residentBytes() - before;

    auto* buscar = form->findChild<QPushButton*>("Button3");
    auto* results = form->findChild<QAbstractItemView*>("ListBox3");
    const auto clicked = Clock::now();
    buscar->click();
    QCoreApplication::processEvents();
    const double buscarMs = msSince(clicked);
    const int listed = results->model()->rowCount();

    // The peer of "Buscar": a list box holding the same lines, cleared and
    // filled again in one insertion, as the window fills its own.
    QStringList lines;
    lines.reserve(listed);
    for (int i = 0; i < listed; ++i) lines.append(results->model()->index(i, 0).data().toString());
    form.reset();  // no close-down: the book on disk stays as it was
    QListWidget box;
    box.addItems(lines);
    const auto refill = Clock::now();
    box.setUpdatesEnabled(false);
    box.clear();
    box.addItems(lines);
    box.setUpdatesEnabled(true);
    QCoreApplication::processEvents();
    const double peerMs = msSince(refill);

    std::printf("RUN %.3f %.3f %d %lld %.3f %.3f\n", startupMs, buscarMs, listed,
                static_cast<long long>(held), readMs, peerMs);
    std::fflush(stdout);
    return 0;
}

struct RunReading {
    double startupMs = 0, buscarMs = 0, readMs = 0, peerMs = 0;
    int listed = 0;
    int64_t held = 0;
};

// Starts this program again in folder for one run and reads its line.
RunReading runFresh(const std::string& self, const std::filesystem::path& folder) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        std::string flag = kRunFlag;
        std::string dir = folder.string();
        std::string name = self;
        char* argv[] = {name.data(), flag.data(), dir.data(), nullptr};
        ::execv("/proc/self/exe", argv);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunReading r;
    long long held = 0;
    const size_t at = output.find("RUN ");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos ||
        std::sscanf(output.c_str() + at, "RUN %lf %lf %d %lld %lf %lf", &r.startupMs, &r.buscarMs,
                    &r.listed, &held, &r.readMs, &r.peerMs) != 6) {
        throw std::runtime_error("the run's process failed: " + output);
    }
    r.held = held;
    return r;
}

void printRow(const std::string& size, const char* op, int runs, double ms, double peerMs,
              const char* target, const char* verdict) {
    std::printf("%12s  %-34s %6d %11.1f ms %11.1f ms %8.2fx %10s  %s\n", size.c_str(), op, runs, ms,
                peerMs, ms > 0 ? peerMs / ms : 0.0, target, verdict);
}

}  // namespace

int main(int argc, char** argv) {
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

    std::printf("every run in a fresh process; medians of %d runs; ratio = peer / Contavio\n",
                runs);
    std::printf(
        "peers: start-up - the same process reading data.vlt into memory first (read());\n"
        "       Buscar - a list box holding the same lines, cleared and filled again\n");
    std::printf("%12s  %-34s %6s %14s %14s %9s %10s  %s\n", "size", "operation", "runs", "median",
                "peer", "ratio", "target", "verdict");
    for (int64_t size : sizes) {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("contavio-gui-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        int64_t contacts = 0;
        if (book.empty()) {
            contacts = writeBook(folder, size);
        } else {
            // A copy: the window takes the book's lock and might keep damaged files aside.
            std::filesystem::copy_file(book, folder / "data.vlt",
                                       std::filesystem::copy_options::overwrite_existing);
        }
        const double fileBytes =
            static_cast<double>(std::filesystem::file_size(folder / "data.vlt"));

        std::vector<double> startup, search, read, peer, held;
        int listed = 0;
        for (int r = 0; r < runs; ++r) {
            const RunReading reading = runFresh(args[0].toStdString(), folder);
            startup.push_back(reading.startupMs);
            search.push_back(reading.buscarMs);
            read.push_back(reading.readMs);
            peer.push_back(reading.peerMs);
            held.push_back(static_cast<double>(reading.held));
            listed = reading.listed;
        }
        std::filesystem::remove_all(folder);

        if (!book.empty()) contacts = listed;
        const std::string sizeCell = book.empty() ? std::to_string(size) : "book";
        const double s = median(startup), b = median(search);
        const bool tracked = size == 100000;
        printRow(sizeCell, "start-up to the first shown window", runs, s, median(read),
                 tracked ? "< 500 ms" : "-", tracked ? (s < 500 ? "met" : "not met") : "-");
        printRow(sizeCell, "\"Buscar\" listing every contact", runs, b, median(peer),
                 tracked ? "< 100 ms" : "-", tracked ? (b < 100 ? "met" : "not met") : "-");
        const double m = median(held);
        std::printf("%12s  %-34s %6d %11.1f MB  %.0f B/contact, %.2fx data.vlt (%.1f MB)\n",
                    sizeCell.c_str(), "memory after start-up (resident)", runs, m / 1e6,
                    contacts > 0 ? m / static_cast<double>(contacts) : 0.0, m / fileBytes,
                    fileBytes / 1e6);
        std::printf("%12s  (%lld contacts in the set, %d lines listed)\n", "",
                    static_cast<long long>(contacts), listed);
        std::fflush(stdout);
    }
    return 0;
}
