// The credits window: a fixed, read-only text about the program. Created
// hidden at start; closing it only hides it.
#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace contavio {

class TForm2 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    // Shows the window without blocking, or brings it to the front when it
    // is already shown.
    void showInFront();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QPlainTextEdit* Memo1 = nullptr;
    bool centred_ = false;
};

}  // namespace contavio
