#include "ServerAccount.h"

#include <qt6keychain/keychain.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <functional>

#include "Ansi.h"
#include "Texts.h"

namespace contavio {

namespace {

// How long a read or write waits for the secret store (it answers over D-Bus).
constexpr int kSecretStoreWaitMs = 10000;

const QString kService = QStringLiteral("Contavio");
const QString kServerKey = QStringLiteral("CardDAV/server");
const QString kUserKey = QStringLiteral("CardDAV/user");
const QString kBookKey = QStringLiteral("CardDAV/addressBook");
const QString kPlainHttpKey = QStringLiteral("CardDAV/allowPlainHttp");
const QString kTrustedGroup = QStringLiteral("TrustedCertificates");
const QString kPasswordHostsGroup = QStringLiteral("PasswordHosts");

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// A trusted certificate belongs to one server: the same host on another port
// or scheme is another server.
QString originOf(const QUrl& server) {
    const int fallback = server.scheme() == QLatin1String("https") ? 443 : 80;
    return server.scheme() + QLatin1Char('_') + server.host().toLower() + QLatin1Char('_') +
           QString::number(server.port(fallback));
}

SecretResult resultOf(const QKeychain::Job& job) {
    SecretResult result;
    switch (job.error()) {
        case QKeychain::NoError:
            result.status = SecretResult::Status::Ok;
            break;
        case QKeychain::EntryNotFound:
            result.status = SecretResult::Status::NotFound;
            break;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
        case QKeychain::OtherError:
            // Without a Secret Service on the bus, the store says it cannot
            // connect (OtherError): to the user that is no store at all.
            result.status = SecretResult::Status::NoStore;
            result.error = ui(text::kNoSecretStore);
            if (!job.errorString().isEmpty()) {
                result.error += QStringLiteral(" (") + job.errorString() + QLatin1Char(')');
            }
            break;
        default:
            result.status = SecretResult::Status::Failed;
            result.error = ui(text::kSecretStoreFailed) + job.errorString();
            break;
    }
    return result;
}

// The job waits in a loop of its own: the store answers over D-Bus, and the
// callers want the answer before they go on. The job lives on the heap and
// deletes itself later: the keychain's own queue still refers to it after
// it finished.
// A store that never answers must not hold the program up: after
// kSecretStoreWaitMs the caller goes on without it (the connection dies with
// the loop, so a late answer reaches nothing).
template <class Job, class Take>
SecretResult runJob(Job* job, Take take) {
    SecretResult result;
    result.error = ui(text::kSecretStoreFailed) + QStringLiteral("no responde");
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        result = resultOf(*job);
        take(*job, result);
        loop.quit();
    });
    QTimer::singleShot(kSecretStoreWaitMs, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);  // never a plain-text copy of the password
    job->start();
    loop.exec();
    return result;
}

const auto kNothingMore = [](const QKeychain::Job&, SecretResult&) {};

}  // namespace

QString accountSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Contavio/Contavio.conf");
}

ServerAccount loadServerAccount() {
    const QSettings settings(accountSettingsFile(), QSettings::IniFormat);
    ServerAccount account;
    account.server = QUrl(settings.value(kServerKey).toString());
    account.user = settings.value(kUserKey).toString();
    account.addressBook = settings.value(kBookKey).toString();
    account.allowPlainHttp = settings.value(kPlainHttpKey, false).toBool();
    if (account.isSet()) account.trustedSha256 = trustedCertificateFor(account.server);
    return account;
}

QByteArray trustedCertificateFor(const QUrl& server) {
    const QSettings settings(accountSettingsFile(), QSettings::IniFormat);
    return settings.value(kTrustedGroup + QLatin1Char('/') + originOf(server))
        .toString()
        .toLatin1();
}

namespace {

// Writes into the account's settings file, which exists for the user alone
// before the first value goes into it and stays so after QSettings replaced
// it. An error text for a person, or an empty text.
QString writeSettings(const std::function<void(QSettings&)>& write) {
    const QString file = accountSettingsFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    {
        QFile touch(file);
        if (!touch.open(QIODevice::Append)) {
            return ui(text::kAccountNotSaved) + file + QStringLiteral(": ") + touch.errorString();
        }
    }
    QFile::setPermissions(file, kOwnerOnly);
    QString failure;
    {
        QSettings settings(file, QSettings::IniFormat);
        write(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError) failure = ui(text::kAccountNotSaved) + file;
    }
    QFile::setPermissions(file, kOwnerOnly);
    return failure;
}

QString passwordHostsKey(const QUrl& server, const QString& user) {
    return kPasswordHostsGroup + QLatin1Char('/') + originOf(server) + QLatin1Char('_') + user;
}

}  // namespace

QString saveServerAccount(const ServerAccount& account) {
    return writeSettings([&](QSettings& settings) {
        settings.setValue(kServerKey, account.server.toString());
        settings.setValue(kUserKey, account.user);
        settings.setValue(kBookKey, account.addressBook);
        settings.setValue(kPlainHttpKey, account.allowPlainHttp);
        if (account.isSet() && !account.trustedSha256.isEmpty()) {
            settings.setValue(kTrustedGroup + QLatin1Char('/') + originOf(account.server),
                              QString::fromLatin1(account.trustedSha256));
        }
    });
}

QStringList passwordHostsFor(const QUrl& server, const QString& user) {
    const QSettings settings(accountSettingsFile(), QSettings::IniFormat);
    return settings.value(passwordHostsKey(server, user)).toStringList();
}

QString confirmPasswordHost(const QUrl& server, const QString& user, const QString& origin) {
    QStringList hosts = passwordHostsFor(server, user);
    if (hosts.contains(origin)) return {};
    hosts << origin;
    return writeSettings(
        [&](QSettings& settings) { settings.setValue(passwordHostsKey(server, user), hosts); });
}

QString secretKey(const ServerAccount& account) {
    const QUrl& s = account.server;
    const int port = s.port(s.scheme() == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("carddav:%1@%2://%3:%4")
        .arg(account.user, s.scheme(), s.host().toLower())
        .arg(port);
}

namespace {

// The key of the first versions, by user and host alone.
QString hostOnlyKey(const ServerAccount& account) {
    return QStringLiteral("carddav:") + account.user + QLatin1Char('@') + account.server.host();
}

SecretResult readKey(const QString& key) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    return runJob(job, [](const QKeychain::ReadPasswordJob& done, SecretResult& result) {
        if (result.status == SecretResult::Status::Ok) result.password = done.textData();
    });
}

SecretResult forgetKey(const QString& key) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(key);
    return runJob(job, kNothingMore);
}

}  // namespace

SecretResult readPassword(const ServerAccount& account) {
    SecretResult found = readKey(secretKey(account));
    if (found.status != SecretResult::Status::NotFound) return found;
    // A password kept under the first versions' key belongs to the account of
    // the settings, on its own server: read there once, and moved to its key.
    const ServerAccount saved = loadServerAccount();
    if (!saved.isSet() || saved.user != account.user || secretKey(saved) != secretKey(account))
        return found;
    const SecretResult old = readKey(hostOnlyKey(account));
    if (old.status != SecretResult::Status::Ok) return found;
    if (storePassword(account, old.password).status == SecretResult::Status::Ok)
        forgetKey(hostOnlyKey(account));
    return old;
}

SecretResult storePassword(const ServerAccount& account, const QString& password) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(secretKey(account));
    job->setTextData(password);
    return runJob(job, kNothingMore);
}

SecretResult forgetPassword(const ServerAccount& account) {
    forgetKey(hostOnlyKey(account));
    return forgetKey(secretKey(account));
}

}  // namespace contavio
