// Names and descriptions that screen readers announce for the main window's
// controls (the captions alone do not tell the two "Agregar" buttons apart).
#pragma once

class QWidget;

namespace contavio {

// Gives every control of window that Texts.h describes its accessible name
// and description.
void describeControls(QWidget* window);

}  // namespace contavio
