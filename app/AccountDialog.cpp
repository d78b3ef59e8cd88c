#include "AccountDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <memory>

#include "Dialogs.h"
#include "book/Ansi.h"
#include "book/ServerSync.h"
#include "book/Texts.h"

namespace contavio {

namespace {

QLineEdit* makeField(QWidget* parent, const char* name, const QString& value) {
    auto* field = new QLineEdit(value, parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMinimumWidth(320);
    return field;
}

// "AB:CD:...": how fingerprints are printed by browsers and openssl, so the
// user can compare it with what the server's keeper says.
QString readableFingerprint(const QByteArray& hex) {
    QString text;
    const QString digits = QString::fromLatin1(hex).toUpper();
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        if (!text.isEmpty()) text += QLatin1Char(':');
        text += digits.mid(i, 2);
    }
    return text;
}

bool isThisMachine(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace

AccountDialog::AccountDialog(const ServerAccount& account, QWidget* parent)
    : QDialog(parent),
      trusted_(account.trustedSha256),
      trustedFor_(account.server.toString()),
      allowPlainHttp_(account.allowPlainHttp) {
    setObjectName(QStringLiteral("AccountDialog"));
    setWindowTitle(ui(text::kAccountCaption));

    server_ = makeField(this, "ServerEdit", account.server.toString());
    server_->setPlaceholderText(QStringLiteral("https://"));
    user_ = makeField(this, "UserEdit", account.user);
    password_ = makeField(this, "PasswordEdit", QString());
    password_->setEchoMode(QLineEdit::Password);
    addressBook_ = new QComboBox(this);
    addressBook_->setObjectName(QStringLiteral("AddressBookBox"));
    addressBook_->setEditable(true);
    addressBook_->setInsertPolicy(QComboBox::NoInsert);
    addressBook_->setEditText(account.addressBook);

    auto* form = new QFormLayout;
    form->addRow(ui(text::kServerField), server_);
    form->addRow(ui(text::kUserField), user_);
    form->addRow(ui(text::kPasswordField), password_);
    form->addRow(ui(text::kAddressBookField), addressBook_);

    probe_ = new QPushButton(ui(text::kProbe), this);
    probe_->setObjectName(QStringLiteral("ProbeButton"));
    trust_ = new QPushButton(ui(text::kTrustCertificate), this);
    trust_->setObjectName(QStringLiteral("TrustButton"));
    trust_->hide();
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("StatusLabel"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(ui(text::kSaveAccount), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("SaveButton"));
    QPushButton* cancel = buttons->addButton(ui(text::kCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(probe_);
    layout->addWidget(status_);
    layout->addWidget(trust_);
    layout->addWidget(buttons);

    connect(probe_, &QPushButton::clicked, this, &AccountDialog::probe);
    connect(trust_, &QPushButton::clicked, this, &AccountDialog::trust);
    connect(save, &QPushButton::clicked, this, &AccountDialog::save);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

ServerAccount AccountDialog::account() const {
    ServerAccount account;
    account.server = QUrl(server_->text().trimmed());
    account.user = user_->text();
    account.addressBook = addressBook_->currentText();
    account.trustedSha256 =
        account.server.toString() == trustedFor_ ? trusted_ : trustedCertificateFor(account.server);
    account.allowPlainHttp = allowPlainHttp_;
    return account;
}

QString AccountDialog::password() const { return password_->text(); }

bool AccountDialog::plainHttpAgreed() {
    const QUrl server(server_->text().trimmed());
    if (server.scheme() != QLatin1String("http") || isThisMachine(server.host()) ||
        allowPlainHttp_) {
        return true;
    }
    const int choice = presentMessage(
        {ui(text::kPlainHttpQuestion).arg(server.host()), {ui(text::kSend), ui(text::kCancel)}});
    allowPlainHttp_ = choice == 0;
    return allowPlainHttp_;
}

void AccountDialog::probe() {
    const ServerAccount chosen = account();
    if (!chosen.isSet() || (chosen.server.scheme() != QLatin1String("http") &&
                            chosen.server.scheme() != QLatin1String("https"))) {
        status_->setText(ui(text::kNoServerAddress));
        return;
    }
    if (probing_ || !plainHttpAgreed()) return;
    ServerTarget target;
    target.url = chosen.server;
    target.user = chosen.user;
    target.password = password();
    target.addressBook = chosen.addressBook;
    target.trustedSha256 = chosen.trustedSha256;
    target.allowPlainHttp = chosen.allowPlainHttp;

    probing_ = true;
    probe_->setEnabled(false);
    trust_->hide();
    status_->setText(ui(text::kProbing));
    // The worker holds its own copy of the target; the dialog may close first.
    auto result = std::make_shared<ProbeResult>();
    QThread* worker = QThread::create([target, result] {
        try {
            *result = probeServer(target);
        } catch (const std::exception& failure) {
            result->error = fromErrorText(failure.what());
        }
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, result] { showProbe(*result); });
    worker->start();
}

void AccountDialog::showProbe(const ProbeResult& result) {
    probing_ = false;
    probe_->setEnabled(true);
    const QString typed = addressBook_->currentText();
    addressBook_->clear();
    addressBook_->addItems(result.addressBooks);
    addressBook_->setEditText(
        typed.isEmpty() && result.addressBooks.size() == 1 ? result.addressBooks.first() : typed);
    offered_ = result.untrustedSha256;
    // The server sends the address book to another host, which the password
    // goes to only once the user says so; said, it is kept for the account
    // and the probe runs again.
    if (!result.passwordWithheldFrom.isEmpty()) {
        const ServerAccount chosen = account();
        const int choice =
            presentMessage({ui(text::kDavSendPasswordQuestion)
                                .arg(chosen.server.host(), result.passwordWithheldFrom),
                            {ui(text::kSend), ui(text::kCancel)}});
        const QString failure = choice == 0 ? confirmPasswordHost(chosen.server, chosen.user,
                                                                  result.passwordWithheldFrom)
                                            : QString();
        if (choice == 0 && failure.isEmpty()) {
            probe();
            return;
        }
        if (!failure.isEmpty()) showMessageBox(failure);
    }
    if (result.ok) {
        status_->setText(ui(text::kProbeFound) + result.addressBooks.join(QStringLiteral(", ")));
    } else if (!offered_.isEmpty()) {
        const QString fingerprint = readableFingerprint(offered_);
        status_->setText(result.error.contains(fingerprint, Qt::CaseInsensitive)
                             ? result.error
                             : result.error + QStringLiteral("\n") + ui(text::kFingerprint) +
                                   fingerprint);
        trust_->show();
    } else if (result.addressBooks.size() > 1) {
        status_->setText(result.error + QStringLiteral("\n") + ui(text::kChooseAddressBook) +
                         result.addressBooks.join(QStringLiteral(", ")));
    } else {
        status_->setText(result.error);
    }
    emit probed();
}

void AccountDialog::trust() {
    if (offered_.isEmpty()) return;
    trusted_ = offered_;
    trustedFor_ = QUrl(server_->text().trimmed()).toString();
    trust_->hide();
    probe();
}

void AccountDialog::save() {
    const ServerAccount chosen = account();
    if (!chosen.isSet()) {
        status_->setText(ui(text::kNoServerAddress));
        return;
    }
    if (!plainHttpAgreed()) return;
    const QString failure = saveServerAccount(account());
    if (!failure.isEmpty()) {
        showMessageBox(failure);
        return;
    }
    if (!password().isEmpty()) {
        const SecretResult kept = storePassword(chosen, password());
        if (kept.status != SecretResult::Status::Ok) showMessageBox(kept.error);
    }
    accept();
}

}  // namespace contavio
