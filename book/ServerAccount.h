// The CardDAV account of this user: the server's address, the user name, the
// address book and the certificates the user chose to trust live in the
// user's configuration (QSettings, INI, <XDG config>/Contavio/Contavio.conf,
// readable by the user alone); the password lives in the desktop's secret
// store (Secret Service, through QtKeychain), service "Contavio", key
// "carddav:<user>@<scheme>://<host>:<port>", and never in a file of
// Contavio's. The hosts besides the account's own that the user let the
// password go to live in the settings too, per server and user.
//
// The secret store calls wait for the store's answer in a local event loop;
// call them on the application's main thread (the keychain's job queue lives
// there).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace contavio {

struct ServerAccount {
    QUrl server;  // http(s)://...: an address book, a principal, or the server
    QString user;
    QString addressBook;       // display name or last path segment; empty: the only one
    QByteArray trustedSha256;  // the certificate trusted for this server (SHA-256, hex), or empty
    bool allowPlainHttp =
        false;  // the user agreed to send the password over http:// to another machine

    bool isSet() const { return server.isValid() && !server.host().isEmpty(); }
};

// The settings file: <XDG_CONFIG_HOME or ~/.config>/Contavio/Contavio.conf,
// looked up anew on each call.
QString accountSettingsFile();

// The account in the settings; an unset account (isSet() false) when there is none.
// The trusted certificate is the one kept for the account's server (host and port).
ServerAccount loadServerAccount();
// Writes the account and, when it has one, the certificate trusted for its
// server, keeping the certificates trusted for other servers. The file is
// made readable and writable by the user alone. Returns an error text for a
// person, or an empty text.
QString saveServerAccount(const ServerAccount& account);
// The certificate the user trusts for this server (scheme, host and port), or empty.
QByteArray trustedCertificateFor(const QUrl& server);

// "carddav:<user>@https://<host>:443": the key of the account's password in
// the secret store, for one origin (scheme, host and port) and user.
QString secretKey(const ServerAccount& account);

// The origins ("https://host:port") the user let the password of this
// server and user go to, besides the server's own; and one more, kept.
// confirmPasswordHost returns an error text for a person, or an empty text.
QStringList passwordHostsFor(const QUrl& server, const QString& user);
QString confirmPasswordHost(const QUrl& server, const QString& user, const QString& origin);

struct SecretResult {
    enum class Status {
        Ok,        // done; for a read, password holds it
        NotFound,  // the store holds no password for the account
        NoStore,   // there is no secret store on this desktop
        Failed,    // the store refused or failed: error says why
    };
    Status status = Status::Failed;
    QString password;
    QString error;  // Spanish, for a person; never holds the password
};

// A password kept by the first versions under "carddav:<user>@<host>" is read
// for the settings' own account only, and moved to its key.
SecretResult readPassword(const ServerAccount& account);
SecretResult storePassword(const ServerAccount& account, const QString& password);
SecretResult forgetPassword(const ServerAccount& account);

}  // namespace contavio
