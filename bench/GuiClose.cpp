#include "GuiClose.h"

#include <QAbstractItemView>
#include <QAction>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "GuiProcess.h"
#include "PlainFiles.h"
#include "StoreOps.h"
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/Main.h"

namespace contavio::bench {

namespace {

// Notes when the watched window is first hidden once armed.
class HideWatch : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (armed && !hidden && event->type() == QEvent::Hide) hidden = Clock::now();
        return QObject::eventFilter(watched, event);
    }
    bool armed = false;
    std::optional<Clock::time_point> hidden;
};

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int closeOnce() {
    // The peer first: the same bytes, as an atomic save of them writes them.
    double peerMs = 0.0;
    {
        const std::string bytes = readWholeFile("data.vlt");
        peerMs = plainAtomicWrite("peer.vlt", bytes) * 1e3;
        std::filesystem::remove("peer.vlt");
    }

    // A question at close gets its first choice, the one that loses nothing
    // (after a failed save: try again); the third gets the last (leave without
    // saving), and the parent then finds the book not saved.
    int questions = 0;
    setMessagePresenter([&questions](const MessageRequest& request) {
        std::fprintf(stderr, "message: %s\n", request.text.toLocal8Bit().constData());
        if (request.choices.isEmpty()) return 0;
        return ++questions < 3 ? 0 : static_cast<int>(request.choices.size()) - 1;
    });

    // As the program does: close-down ends the process once the book is saved.
    endProcessAfterCloseDown(true);
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) {
        std::fprintf(stderr, "window not exposed\n");
        return 1;
    }
    const int listed = form->findChild<QAbstractItemView*>("ListBox3")->model()->rowCount();
    auto* salir = form->findChild<QAction*>("Salir1");
    HideWatch watch;
    form->installEventFilter(&watch);
    Clock::time_point requested;
    QTimer::singleShot(0, [&] {
        watch.armed = true;
        requested = Clock::now();
        salir->trigger();
    });
    // The program's own loop: the window's close ends it, and the program
    // returns from main as the application does.
    QCoreApplication::exec();
    if (!watch.hidden || !form->closedDown()) {
        std::fprintf(stderr, "the window did not close down\n");
        return 1;
    }
    std::printf("CLOSE %.3f %lld %.3f %d %d\n", msBetween(requested, *watch.hidden),
                static_cast<long long>(requested.time_since_epoch().count()), peerMs, listed,
                questions);
    endProcess(0);
}

CloseReading measureClose(const std::string& self, const std::filesystem::path& book,
                          const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    fs::create_directories(folder);
    const fs::path copy = folder / "data.vlt";
    fs::copy_file(book, copy, fs::copy_options::overwrite_existing);
    // A day old: only a save during the run makes it new.
    const fs::file_time_type stamped = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(copy, stamped);

    const FreshRun run = runInFreshProcess(self, kCloseFlag, folder);
    CloseReading r;
    long long requested = 0;
    const size_t at = run.output.find("CLOSE ");
    if (at == std::string::npos ||
        std::sscanf(run.output.c_str() + at, "CLOSE %lf %lld %lf %d %d", &r.hiddenMs, &requested,
                    &r.peerMs, &r.listed, &r.questions) != 5) {
        throw std::runtime_error("the close run printed no reading: " + run.output);
    }
    r.endedMs = msBetween(Clock::time_point(Clock::duration(requested)), run.ended);
    if (!fs::exists(copy) || fs::last_write_time(copy) <= stamped || fs::file_size(copy) == 0) {
        throw std::runtime_error("the close did not save " + copy.string());
    }
    return r;
}

}  // namespace contavio::bench
