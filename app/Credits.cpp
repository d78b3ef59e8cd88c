#include "Credits.h"

#include <QPlainTextEdit>
#include <QScreen>
#include <QStringList>

#include "AppIcon.h"
#include "Look.h"
#include "book/Ansi.h"
#include "book/Texts.h"

namespace contavio {

namespace {

constexpr int kClientWidth = 291;
constexpr int kClientHeight = 267;

QString creditsText() {
    QStringList lines;
    for (const char* line : text::kCreditsLines) {
        lines.append(ui(line));
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(ui(text::kCreditsCaption));
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    setFont(windowFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 0, 289, 265);
    Memo1->setReadOnly(true);  // selectable and scrollable, never changed
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setPlainText(creditsText());
}

void TForm2::showInFront() {
    show();
    raise();
    activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

}  // namespace contavio
