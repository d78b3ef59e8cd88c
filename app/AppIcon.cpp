#include "AppIcon.h"

#include <QPixmap>

namespace contavio {

QIcon appIcon() {
    // The same images that the installed program's menu entry shows.
    QIcon icon;
    for (const int size : {16, 32, 48, 256}) {
        icon.addPixmap(QPixmap(QStringLiteral(":/icons/org.contavio.Contavio-%1.png").arg(size)));
    }
    return icon;
}

}  // namespace contavio
