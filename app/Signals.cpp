#include "Signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "Dialogs.h"
#include "Main.h"

namespace contavio {

namespace {

constexpr std::array<int, 3> kTerminationSignals = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: [0] is read by the event loop, [1] written by the handler.
int pipeEnds[2] = {-1, -1};

extern "C" void onTerminationSignal(int signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

TerminationWatcher::TerminationWatcher(QWidget* window) : TerminationWatcher() { watch(window); }

TerminationWatcher::TerminationWatcher() {
    if (pipeEnds[0] >= 0) {
        throw std::logic_error("TerminationWatcher: only one may watch at a time");
    }
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;  // the signals keep their default actions
    }
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onSignal(); });
    for (int signal : kTerminationSignals) {
        setHandler(signal, onTerminationSignal);
    }
}

TerminationWatcher::~TerminationWatcher() {
    if (pipeEnds[0] < 0) {
        return;
    }
    for (int signal : kTerminationSignals) {
        setHandler(signal, SIG_DFL);
    }
    delete notifier_;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void TerminationWatcher::watch(QWidget* window) {
    window_ = window;
    if (pending_) {
        pending_ = false;
        closeWindow();
    }
}

void TerminationWatcher::closeWindow() {
    runGuarded([this] {
        if (auto* form = qobject_cast<TForm1*>(window_.data())) {
            form->closeOnSignal();
        } else {
            window_->close();
        }
    });
}

void TerminationWatcher::onSignal() {
    char bytes[64];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    if (!window_) {
        // Still starting: end a message that waits for the user, so that
        // start-up can finish and the window be closed as soon as it is watched.
        pending_ = true;
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        return;
    }
    closeWindow();
}

}  // namespace contavio
