// "Programa" > "Cuenta CardDAV...": the server's address, the user, the
// password and the address book of the account the window syncs with.
// "Probar" asks the server on a worker thread (the dialog stays usable) and
// says what it found: the address books to choose from, or why not, in
// words a person understands. A certificate that is not trusted is shown by
// its SHA-256 fingerprint, and "Confiar en este certificado" trusts it for
// this server only. "Guardar" keeps the account in the settings and the
// password in the secret store (or, without one, for this session only).
#pragma once

#include <QDialog>
#include <QString>

#include "book/ServerAccount.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace contavio {

struct ProbeResult;

class AccountDialog : public QDialog {
    Q_OBJECT
  public:
    AccountDialog(const ServerAccount& account, QWidget* parent = nullptr);

    // The account and the password as the fields hold them.
    ServerAccount account() const;
    QString password() const;
    // True while "Probar" waits for the server.
    bool probing() const { return probing_; }

  signals:
    // A probe ended and its outcome is shown.
    void probed();

  private:
    void probe();
    void showProbe(const ProbeResult& result);
    void trust();
    void save();
    // Asks before a password goes unencrypted to another machine; false: not sent.
    bool plainHttpAgreed();

    QLineEdit* server_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QComboBox* addressBook_ = nullptr;
    QPushButton* probe_ = nullptr;
    QPushButton* trust_ = nullptr;
    QLabel* status_ = nullptr;

    QByteArray trusted_;  // the certificate trusted for the server in server_
    QByteArray offered_;  // the fingerprint of the certificate last refused
    QString trustedFor_;  // the server trusted_ belongs to
    bool allowPlainHttp_ = false;
    bool probing_ = false;
};

}  // namespace contavio
