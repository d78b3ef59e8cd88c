// Measures the main window with a large book on Qt's offscreen platform:
// start-up to the first shown window (loading "data.vlt", the first search
// and the results list), and "Buscar" listing every contact.
//
//   contavio_gui_bench [--runs N] [SIZE...]      (default: 100000 1000000)
#include <unistd.h>

#include <QAbstractItemView>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    prepareApplication();
    setMessagePresenter([](const MessageRequest& request) {
        std::fprintf(stderr, "message: %s\n", request.text.toLocal8Bit().constData());
        return 0;
    });

    int runs = 3;
    std::vector<int64_t> sizes;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else {
            sizes.push_back(args[i].toLongLong());
        }
    }
    if (sizes.empty()) sizes = {100000, 1000000};

    std::printf("%12s  %-34s %6s %14s %10s  %s\n", "size", "operation", "runs", "median",
                "target", "verdict");
    for (int64_t size : sizes) {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("contavio-gui-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const int64_t contacts = writeBook(folder, size);
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(folder);

        std::vector<double> startup, search;
        int listed = 0;
        for (int r = 0; r < runs; ++r) {
            const auto start = Clock::now();
            auto form = std::make_unique<TForm1>();
            form->show();
            if (!QTest::qWaitForWindowExposed(form.get())) std::fprintf(stderr, "window not exposed\n");
            startup.push_back(msSince(start));

            auto* buscar = form->findChild<QPushButton*>("Button3");
            auto* results = form->findChild<QAbstractItemView*>("ListBox3");
            const auto clicked = Clock::now();
            buscar->click();
            QCoreApplication::processEvents();
            search.push_back(msSince(clicked));
            listed = results->model()->rowCount();
            form.reset();  // no close-down: the book on disk stays as it was
        }
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);

        const double s = median(startup), b = median(search);
        const bool tracked = size == 100000;
        std::printf("%12lld  %-34s %6d %11.1f ms %10s  %s\n", static_cast<long long>(size),
                    "start-up to the first shown window", runs, s, tracked ? "< 500 ms" : "-",
                    tracked ? (s < 500 ? "met" : "not met") : "-");
        std::printf("%12lld  %-34s %6d %11.1f ms %10s  %s\n", static_cast<long long>(size),
                    "\"Buscar\" listing every contact", runs, b, tracked ? "< 100 ms" : "-",
                    tracked ? (b < 100 ? "met" : "not met") : "-");
        std::printf("%12s  (%lld contacts in the set, %d lines listed)\n", "",
                    static_cast<long long>(contacts), listed);
    }
    return 0;
}
