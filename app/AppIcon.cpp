#include "AppIcon.h"

#include <QPixmap>

namespace contavio {

QIcon appIcon() {
    // The same images that the installed program's menu entry shows.
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/icons/org.contavio.Contavio-16.png")));
    icon.addPixmap(QPixmap(QStringLiteral(":/icons/org.contavio.Contavio-32.png")));
    return icon;
}

}  // namespace contavio
