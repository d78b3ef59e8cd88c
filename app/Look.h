// The program's fonts and colours. Qt has no roles for some of the system
// colours the windows use; those are the classic Windows ones.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

namespace contavio {

// "MS Sans Serif", 11 pixels high, or a sans serif of similar width where the
// system lacks it.
QFont windowFont();
// "Verdana", 11 pixels high.
QFont verdanaFont(bool underline);

// Places a top-level window at the centre of its screen.
void centreOnScreen(QWidget* window);

// The desktop colour behind the main window's controls.
inline const QColor kDesktopColour(58, 110, 165);
// The active title bar's gradient colour, the field colour of the panel edits.
inline const QColor kActiveTitleGradient(166, 202, 240);
inline const QColor kLime(0, 255, 0);

}  // namespace contavio
