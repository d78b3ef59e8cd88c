// SIGTERM, SIGINT and SIGHUP close the main window, which saves the contacts
// before the program ends, without a sync and without a question; with a
// question open, or a close-down under way, the main window saves at once and
// ends the process. The handler only writes to a pipe; the event loop reads it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace contavio {

// One at a time. While it lives, the three signals close the watched window;
// its destruction gives the signals back their default actions. It is made
// before the main window, so that a signal that comes while the window is
// being made (a start-up message may be waiting for the user) is kept and
// closes the window as soon as it is watched.
class TerminationWatcher : public QObject {
    Q_OBJECT
  public:
    TerminationWatcher();
    explicit TerminationWatcher(QWidget* window);
    ~TerminationWatcher() override;
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

    // Watches window; closes it at once if a signal came before.
    void watch(QWidget* window);

  private:
    void onSignal();
    void closeWindow();

    QPointer<QWidget> window_;
    QSocketNotifier* notifier_ = nullptr;
    bool pending_ = false;  // a signal came while no window was watched
};

}  // namespace contavio
