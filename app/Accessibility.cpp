#include "Accessibility.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "book/Ansi.h"
#include "book/Texts.h"

namespace contavio {

void describeControls(QWidget* window) {
    for (const text::ControlDescription& entry : text::kControlDescriptions) {
        auto* control = window->findChild<QWidget*>(QString::fromLatin1(entry.control));
        if (control == nullptr) continue;
        control->setAccessibleName(ui(entry.name));
        control->setAccessibleDescription(ui(entry.description));
        // An editable picker is announced through its edit, which has the
        // focus; the picker itself reads out its text on this platform.
        if (auto* picker = qobject_cast<QComboBox*>(control); picker && picker->lineEdit()) {
            picker->lineEdit()->setAccessibleName(ui(entry.name));
            picker->lineEdit()->setAccessibleDescription(ui(entry.description));
        }
    }
}

}  // namespace contavio
