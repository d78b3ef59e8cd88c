// A sign of life while a large book is read or written on the window's
// thread: the busy cursor and a small note ("Guardando...") that is painted
// before the work starts.
#pragma once

#include <QString>
#include <memory>

class QLabel;
class QWidget;

namespace contavio {

// Books from this many bytes (about 40,000 contacts) take longer than a
// moment to read or write.
inline constexpr long long kBusyBookBytes = 8 << 20;
inline constexpr int kBusyBookContacts = 40000;

class BusyNotice {
  public:
    // Shows text over `over` (the screen's centre when none) while it lives,
    // if `worthIt`; otherwise does nothing.
    BusyNotice(const QString& text, QWidget* over, bool worthIt);
    ~BusyNotice();
    BusyNotice(const BusyNotice&) = delete;
    BusyNotice& operator=(const BusyNotice&) = delete;

    // The note on screen, if any (for tests and screenshots).
    QLabel* note() const { return note_.get(); }

  private:
    std::unique_ptr<QLabel> note_;
};

}  // namespace contavio
