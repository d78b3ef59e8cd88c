// SIGTERM, SIGINT and SIGHUP close the main window, which runs the same
// close-down as the menu's "Salir": the contacts are saved before the
// program ends. The handler only writes to a pipe; the event loop reads it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace contavio {

// One at a time. While it lives, the three signals close `window`; its
// destruction gives the signals back their default actions.
class TerminationWatcher : public QObject {
    Q_OBJECT
  public:
    explicit TerminationWatcher(QWidget* window);
    ~TerminationWatcher() override;
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

  private:
    void onSignal();

    QPointer<QWidget> window_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace contavio
