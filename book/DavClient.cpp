#include "book/DavClient.h"

#include <libpsl.h>

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cctype>

#include "book/Ansi.h"
#include "book/ServerAccount.h"
#include "book/Texts.h"
#include "book/Version.h"

namespace contavio {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

DavLimits limitsFromEnvironment() {
    DavLimits limits;
    const QByteArray text = qgetenv("CONTAVIO_DAV_LIMITS");
    const QList<QByteArray> parts = text.split(',');
    if (parts.size() == 4) {
        limits.connectMs = parts[0].toInt();
        limits.idleMs = parts[1].toInt();
        limits.totalMs = parts[2].toInt();
        limits.maxBytes = parts[3].toLongLong();
    }
    return limits;
}

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(a.scheme() == QLatin1String("https") ? 443 : 80) ==
               b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

QString hostOf(const QUrl& url) { return url.host(); }

// The registrable domain of a host ("example.com" for "dav.example.com"), by
// the Public Suffix List; empty for an address, a public suffix, or a name
// without one.
QString registrableDomain(const QString& host) {
    static const std::unique_ptr<psl_ctx_t, void (*)(psl_ctx_t*)> list(psl_latest(nullptr),
                                                                       psl_free);
    if (!list) return {};
    const QByteArray name = host.toLower().toUtf8();
    const char* domain = psl_registrable_domain(list.get(), name.constData());
    return domain ? QString::fromUtf8(domain) : QString();
}

// Addresses whose contacts need OAuth 2, which a password cannot open.
bool needsOAuth(const QUrl& url) {
    const QString host = url.host().toLower();
    for (const char* domain : {"google.com", "googleapis.com", "googleusercontent.com"}) {
        const QString d = QString::fromLatin1(domain);
        if (host == d || host.endsWith(QLatin1Char('.') + d)) return true;
    }
    return false;
}

}  // namespace

QString originOf(const QUrl& url) {
    const int fallback = url.scheme() == QLatin1String("https") ? 443 : 80;
    return url.scheme() + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(url.port(fallback));
}

bool sameRegistrableDomain(const QString& a, const QString& b) {
    const QString domain = registrableDomain(a);
    return !domain.isEmpty() && domain == registrableDomain(b);
}

QByteArray normalizedFingerprint(const QByteArray& text) {
    QByteArray hex;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) hex += static_cast<char>(std::toupper(c));
    }
    return hex.size() == 64 ? hex : QByteArray();
}

QString shownFingerprint(const QByteArray& hex) {
    QStringList pairs;
    for (int i = 0; i + 1 < hex.size(); i += 2) pairs << QString::fromLatin1(hex.mid(i, 2));
    return pairs.join(QLatin1Char(':'));
}

bool isThisMachine(const QString& host) {
    const QString h = host.toLower();
    return h == QLatin1String("localhost") || h == QLatin1String("127.0.0.1") ||
           h == QLatin1String("::1") || h == QLatin1String("[::1]");
}

DavClient::DavClient(const ServerTarget& target)
    : target_(target), limits_(limitsFromEnvironment()) {
    const auto trusts = [this](const QUrl& url, const QByteArray& sha256) {
        return !target_.trustedSha256.isEmpty() &&
               normalizedFingerprint(target_.trustedSha256) == sha256 &&
               originOf(url) == originOf(target_.url);  // that server and port only
    };
    const auto cancelled = [this] { return target_.cancelled && target_.cancelled->load(); };
    http_ = std::make_unique<HttpConnection>(
        HttpLimits{limits_.connectMs, limits_.idleMs, limits_.totalMs, limits_.maxBytes}, trusts,
        cancelled);
    if (!target_.user.isEmpty()) confirmed_ = passwordHostsFor(target_.url, target_.user);
}

DavClient::~DavClient() = default;

void DavClient::stayAt(const QUrl& url) { stayAt_ = originOf(url); }

bool DavClient::mayAuthenticate(const QUrl& url) const {
    if (target_.user.isEmpty()) return false;
    if (!sameOrigin(url, target_.url)) {
        // Elsewhere, only over HTTPS: to the account's own domain (iCloud's
        // home sets, Fastmail's well-known redirect), or to a host the user
        // confirmed.
        return url.scheme() == QLatin1String("https") &&
               (sameRegistrableDomain(url.host(), target_.url.host()) ||
                confirmed_.contains(originOf(url)));
    }
    if (url.scheme() == QLatin1String("http") && !isThisMachine(url.host()) &&
        !target_.allowPlainHttp) {
        throw ServerError(u("%1 es una dirección http:// sin cifrar hacia otra máquina: la "
                            "contraseña viajaría legible por la red, y no se envía.")
                              .arg(target_.url.toDisplayString()));
    }
    return true;
}

DavReply DavClient::send(const QByteArray& method, const QUrl& url, const QByteArray& body,
                         const DavHeaders& headers, const QList<int>& answers) {
    QUrl at = url;
    QByteArray verb = method;
    QByteArray payload = body;
    for (int hops = 0, waits = 0;;) {
        if (needsOAuth(at)) throw ServerError(ui(text::kDavGoogle).arg(at.host()));
        DavReply reply = sendOnce(verb, at, payload, headers);
        const int s = reply.status;
        if (answers.contains(s)) return reply;
        if ((s == 301 || s == 302 || s == 303 || s == 307 || s == 308) &&
            reply.location.isValid()) {
            if (++hops > kMaxRedirects) {
                throw ServerError(u("El servidor %1 redirige sin fin.").arg(hostOf(url)));
            }
            const QUrl next = at.resolved(reply.location);
            if (next.scheme() != QLatin1String("http") && next.scheme() != QLatin1String("https")) {
                throw ServerError(
                    ui(text::kDavRedirectScheme).arg(hostOf(at), next.toDisplayString()));
            }
            // Neither the password nor the contacts go to plain http:// on
            // another machine unless the user let them, whoever redirects.
            if (next.scheme() == QLatin1String("http") && !isThisMachine(next.host()) &&
                !target_.allowPlainHttp) {
                throw ServerError(
                    ui(text::kDavRedirectPlain).arg(hostOf(at), next.toDisplayString()));
            }
            if (!stayAt_.isEmpty() && originOf(next) != stayAt_) {
                throw ServerError(
                    ui(text::kDavRedirectAway).arg(hostOf(at), next.toDisplayString()));
            }
            at = next;
            if (s == 303) {
                verb = "GET";
                payload.clear();
            }
            continue;
        }
        if (s == 429 || s == 503) {
            if (reply.retryAfter >= 0 && reply.retryAfter <= kLongestWait && waits++ < 3) {
                QElapsedTimer waited;
                waited.start();
                while (waited.elapsed() < reply.retryAfter * 1000LL) {
                    throwIfCancelled();
                    QThread::msleep(kCancelPollMs);
                }
                continue;
            }
            throw ServerError(
                reply.retryAfter > 0
                    ? u("El servidor %1 está ocupado y pide esperar %2 s: pruebe más tarde.")
                          .arg(hostOf(at))
                          .arg(reply.retryAfter)
                    : u("El servidor %1 está ocupado: pruebe más tarde.").arg(hostOf(at)));
        }
        if (s == 401 && !target_.user.isEmpty() && !mayAuthenticate(at)) {
            throw ServerError(
                ui(text::kDavSentElsewhere).arg(hostOf(target_.url), at.toDisplayString()), {},
                at.scheme() == QLatin1String("https") ? originOf(at) : QString());
        }
        if (s == 401) {
            throw ServerError(u("Contraseña incorrecta (o usuario desconocido) para «%1» en %2.")
                                  .arg(target_.user, hostOf(at)));
        }
        if (s == 403) {
            throw ServerError(u("Sin permiso: el servidor %1 no deja a «%2» usar %3.")
                                  .arg(hostOf(at), target_.user, at.path()));
        }
        if (s == 404) {
            throw ServerError(
                u("Libreta no encontrada: %1 no existe en el servidor.").arg(at.toDisplayString()));
        }
        if (s == 507) {
            throw ServerError(
                u("Servidor lleno: %1 no tiene espacio para más tarjetas.").arg(hostOf(at)));
        }
        if (s >= 500) {
            throw ServerError(
                u("Error del servidor %1 (%2): pruebe más tarde.").arg(hostOf(at)).arg(s));
        }
        return reply;
    }
}

void DavClient::throwIfCancelled() const {
    if (target_.cancelled && target_.cancelled->load()) {
        throw ServerError(u("Sincronización interrumpida: Contavio se cierra."));
    }
}

DavReply DavClient::sendOnce(const QByteArray& method, const QUrl& url, const QByteArray& body,
                             const DavHeaders& headers) {
    throwIfCancelled();
    DavHeaders sent{{"User-Agent", QByteArrayLiteral("Contavio/" CONTAVIO_VERSION)}};
    if (mayAuthenticate(url)) {
        const QByteArray pair = (target_.user + QLatin1Char(':') + target_.password).toUtf8();
        sent.append(qMakePair(QByteArray("Authorization"), "Basic " + pair.toBase64()));
    }
    sent += headers;
    const bool typed = std::any_of(headers.begin(), headers.end(), [](const auto& h) {
        return h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    });
    if (!body.isEmpty() && !typed)
        sent.append(
            qMakePair(QByteArray("Content-Type"), QByteArray("application/xml; charset=utf-8")));
    ++requests_;
    const HttpOutcome outcome = http_->exchange(method, url, body, sent);

    using Failure = HttpOutcome::Failure;
    const QString host = hostOf(url);
    switch (outcome.failure) {
        case Failure::None:
            break;
        case Failure::Cancelled:
            throwIfCancelled();
            throw ServerError(u("Sincronización interrumpida: Contavio se cierra."));
        case Failure::Untrusted:
            throw ServerError(u("Certificado no fiable: el de %1 no lo avala ninguna autoridad del "
                                "sistema. Su huella SHA-256 es %2.")
                                  .arg(host, shownFingerprint(outcome.untrustedSha256)),
                              outcome.untrustedSha256);
        case Failure::TooBig:
            throw AnswerTooBig(u("La respuesta de %1 es demasiado grande (más de %2 MB): se deja.")
                                   .arg(host)
                                   .arg(limits_.maxBytes / (1024 * 1024)));
        case Failure::Timeout:
            throw ServerError(u("El servidor %1 no responde a tiempo.").arg(host));
        case Failure::Cut:
            if (outcome.answer.status == 0) throw ServerError(ui(text::kDavNetClosed).arg(host));
            throw ServerError(u("Se cortó la comunicación con el servidor %1: la respuesta llegó a "
                                "medias.")
                                  .arg(host));
        case Failure::HostNotFound:
            throw ServerError(u("Servidor no encontrado: %1.").arg(host));
        case Failure::Refused:
            throw ServerError(
                u("El servidor %1 no está al alcance (rechaza la conexión).").arg(host));
        case Failure::Tls:
            throw ServerError(ui(text::kDavNetTls).arg(host));
        case Failure::Protocol:
            throw ServerError(ui(text::kDavNetProtocol).arg(host));
        case Failure::Network:
            throw ServerError(ui(text::kDavNetUnreachable).arg(host));
    }
    const HttpAnswer& answer = outcome.answer;
    DavReply result;
    result.status = answer.status;
    result.url = url;
    result.body = answer.body;
    result.etag = answer.header("etag");
    const QByteArray location = answer.header("location");
    if (!location.isEmpty()) result.location = QUrl(QString::fromUtf8(location));
    bool isNumber = false;
    const int after = answer.header("retry-after").trimmed().toInt(&isNumber);
    if (isNumber) result.retryAfter = after;
    return result;
}

}  // namespace contavio
