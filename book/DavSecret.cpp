#include "book/DavSecret.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace contavio {

QString serverSecretKey(const QString& user, const QString& host) {
    return QStringLiteral("carddav:%1@%2").arg(user, host);
}

std::optional<QString> readServerPassword(const QString& user, const QString& host, int timeoutMs) {
    QKeychain::ReadPasswordJob job(QString::fromLatin1(kSecretService));
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    job.setKey(serverSecretKey(user, host));
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    // A secret store that never answers must not hold the sync up.
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished) loop.exec();
    if (!finished || job.error() != QKeychain::NoError) return std::nullopt;
    return job.textData();
}

}  // namespace contavio
