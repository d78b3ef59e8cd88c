// The main window from the keyboard: Return adds the telephone or e-mail
// typed and runs the search typed, Return or Space presses a focused button,
// and a few shortcuts that add nothing to the captions: Ctrl+Q quits, Ctrl+F
// goes to the search field, F5 searches.
#pragma once

class QWidget;

namespace contavio {

void addKeyboardUse(QWidget* window);

}  // namespace contavio
