#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "Look.h"

namespace contavio {

namespace {

// Drawn on a 32-unit grid and scaled, so both sizes show the same picture.
QPixmap drawCard(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    // The card, with a lime band at its top like the window's panels.
    painter.setPen(QPen(QColor(20, 50, 90), 1.5));
    painter.setBrush(kDesktopColour);
    painter.drawRoundedRect(QRectF(2, 4, 28, 24), 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kLime);
    painter.drawRect(QRectF(3, 6, 26, 3));

    // The person: head and shoulders.
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(7, 11, 8, 8));
    QPainterPath shoulders;
    shoulders.moveTo(4, 27);
    shoulders.cubicTo(4, 19, 18, 19, 18, 27);
    shoulders.closeSubpath();
    painter.drawPath(shoulders);

    // Two lines of text beside it.
    painter.setBrush(QColor(230, 240, 255));
    painter.drawRect(QRectF(20, 14, 7, 2));
    painter.drawRect(QRectF(20, 19, 7, 2));
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    icon.addPixmap(drawCard(16));
    icon.addPixmap(drawCard(32));
    return icon;
}

}  // namespace contavio
