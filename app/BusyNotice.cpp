#include "BusyNotice.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace contavio {

BusyNotice::BusyNotice(const QString& text, QWidget* over, bool worthIt) {
    if (!worthIt) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    note_ = std::make_unique<QLabel>(text);
    note_->setObjectName(QStringLiteral("BusyNotice"));
    note_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    note_->setFrameStyle(QFrame::Box | QFrame::Plain);
    note_->setMargin(12);
    note_->adjustSize();
    QRect area;
    if (over != nullptr && over->isVisible()) {
        area = over->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        note_->move(area.center() - QPoint(note_->width() / 2, note_->height() / 2));
    }
    note_->show();
    note_->repaint();
    if (over != nullptr) over->repaint();
    // Paint it now: the work that follows keeps the event loop waiting.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

BusyNotice::~BusyNotice() {
    if (!note_) return;
    note_.reset();
    QApplication::restoreOverrideCursor();
}

}  // namespace contavio
