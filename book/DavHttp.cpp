#include "book/DavHttp.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>
#include <algorithm>

namespace contavio {

namespace {

constexpr qint64 kLongestHead = 64 * 1024;  // status line and headers
constexpr qint64 kLongestLine = 1024;       // a chunk's size line, a trailer line
constexpr int kCancelPollMs = 50;

bool isSecure(const QUrl& url) { return url.scheme() == QLatin1String("https"); }
int portOf(const QUrl& url) { return url.port(isSecure(url) ? 443 : 80); }

QString originKey(const QUrl& url) {
    return url.scheme() + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(portOf(url));
}

QByteArray requestHead(const QByteArray& method, const QUrl& url, const QByteArray& body,
                       const QList<QPair<QByteArray, QByteArray>>& headers) {
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':')) host = '[' + host + ']';
    if (url.port() != -1 && url.port() != (isSecure(url) ? 443 : 80))
        host += ':' + QByteArray::number(url.port());
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    if (!body.isEmpty() || (method != "GET" && method != "HEAD" && method != "DELETE"))
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return head + "\r\n";
}

}  // namespace

QByteArray HttpAnswer::header(const QByteArray& lowerName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerName) return value;
    }
    return {};
}

// The answer as it is read: its head, then its body in the way the head
// says, every byte counted.
struct HttpConnection::Exchange {
    enum class Phase { Head, Length, UntilClose, ChunkSize, ChunkData, ChunkEnd, Trailer, Done };
    using Failure = HttpOutcome::Failure;

    Phase phase = Phase::Head;
    Failure failure = Failure::None;
    HttpAnswer answer;
    QByteArray line;
    qint64 remaining = 0;
    qint64 maxBytes = 0;
    bool headOnly = false;
    bool keepAlive = true;
    bool anyByte = false;

    bool over() const { return phase == Phase::Done || failure != Failure::None; }

    void fail(Failure why) {
        if (failure == Failure::None) failure = why;
    }

    void take(const char* data, qint64 size) {
        if (answer.body.size() + size > maxBytes) return fail(Failure::TooBig);
        if (answer.body.capacity() < answer.body.size() + size) {
            answer.body.reserve(std::min(
                maxBytes, std::max(answer.body.size() + size, 2 * answer.body.capacity())));
        }
        answer.body.append(data, size);
    }

    // A line ended by CR LF, gathered across reads; false until it is whole.
    bool gatherLine(const char*& at, const char* end) {
        while (at < end) {
            line += *at++;
            if (line.endsWith("\r\n")) {
                line.chop(2);
                return true;
            }
            if (line.size() > kLongestLine) {
                fail(Failure::Protocol);
                return false;
            }
        }
        return false;
    }

    void readHead(const char*& at, const char* end) {
        while (at < end && phase == Phase::Head) {
            line += *at++;
            if (line.size() > kLongestHead) return fail(Failure::Protocol);
            if (!line.endsWith("\r\n\r\n")) continue;
            const QList<QByteArray> lines = line.split('\n');
            line.clear();
            const QByteArray status = lines.value(0).trimmed();
            if (!status.startsWith("HTTP/1.")) return fail(Failure::Protocol);
            answer.status = status.mid(9, 3).toInt();
            answer.headers.clear();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    answer.headers.append({lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed()});
            }
            if (answer.status / 100 == 1) continue;  // 100 Continue: the answer follows
            if (status.startsWith("HTTP/1.0") ||
                answer.header("connection").toLower().contains("close"))
                keepAlive = false;
            bool said = false;
            const qint64 length = answer.header("content-length").toLongLong(&said);
            if (headOnly || answer.status == 204 || answer.status == 304) {
                phase = Phase::Done;
            } else if (answer.header("transfer-encoding").toLower().contains("chunked")) {
                phase = Phase::ChunkSize;
            } else if (said) {
                if (length > maxBytes) return fail(Failure::TooBig);
                remaining = length;
                phase = length == 0 ? Phase::Done : Phase::Length;
            } else {
                keepAlive = false;
                phase = Phase::UntilClose;
            }
        }
    }

    void feed(const char* at, const char* end) {
        anyByte = anyByte || at < end;
        while (at < end && !over()) {
            switch (phase) {
                case Phase::Head:
                    readHead(at, end);
                    break;
                case Phase::Length:
                case Phase::ChunkData: {
                    const qint64 n = std::min<qint64>(remaining, end - at);
                    take(at, n);
                    at += n;
                    remaining -= n;
                    if (remaining == 0)
                        phase = phase == Phase::Length ? Phase::Done : Phase::ChunkEnd;
                    break;
                }
                case Phase::UntilClose:
                    take(at, end - at);
                    at = end;
                    break;
                case Phase::ChunkSize:
                    if (gatherLine(at, end)) {
                        bool ok = false;
                        remaining = line.split(';').value(0).trimmed().toLongLong(&ok, 16);
                        line.clear();
                        if (!ok || remaining < 0) return fail(Failure::Protocol);
                        if (remaining > maxBytes) return fail(Failure::TooBig);
                        phase = remaining == 0 ? Phase::Trailer : Phase::ChunkData;
                    }
                    break;
                case Phase::ChunkEnd:
                    if (gatherLine(at, end)) {
                        if (!line.isEmpty()) return fail(Failure::Protocol);
                        phase = Phase::ChunkSize;
                    }
                    break;
                case Phase::Trailer:
                    if (gatherLine(at, end)) {
                        if (line.isEmpty()) phase = Phase::Done;
                        line.clear();
                    }
                    break;
                case Phase::Done:
                    break;
            }
        }
    }

    // The connection ended: whole only when the body ran up to the close.
    void closed() {
        if (phase == Phase::UntilClose) {
            phase = Phase::Done;
        } else if (!over()) {
            fail(Failure::Cut);
        }
        keepAlive = false;
    }
};

HttpConnection::HttpConnection(HttpLimits limits,
                               std::function<bool(const QUrl&, const QByteArray&)> trusts,
                               std::function<bool()> cancelled)
    : limits_(limits), trusts_(std::move(trusts)), cancelled_(std::move(cancelled)) {}

HttpConnection::~HttpConnection() = default;

HttpOutcome HttpConnection::exchange(const QByteArray& method, const QUrl& url,
                                     const QByteArray& body,
                                     const QList<QPair<QByteArray, QByteArray>>& headers) {
    const bool reused = socket_ && reusable_ && origin_ == originKey(url) &&
                        socket_->state() == QAbstractSocket::ConnectedState;
    bool unanswered = false;
    HttpOutcome outcome = once(method, url, body, headers, unanswered);
    // A kept connection the server had closed meanwhile: once more, anew.
    if (reused && unanswered) outcome = once(method, url, body, headers, unanswered);
    return outcome;
}

HttpOutcome HttpConnection::once(const QByteArray& method, const QUrl& url, const QByteArray& body,
                                 const QList<QPair<QByteArray, QByteArray>>& headers,
                                 bool& unanswered) {
    using Failure = HttpOutcome::Failure;
    const QString origin = originKey(url);
    const bool fresh = !(socket_ && reusable_ && origin_ == origin &&
                         socket_->state() == QAbstractSocket::ConnectedState);
    if (fresh) {
        socket_ = std::make_unique<QSslSocket>();
        socket_->setReadBufferSize(kSocketBuffer);
        origin_ = origin;
    }
    reusable_ = false;
    QSslSocket& socket = *socket_;
    Exchange x;
    x.maxBytes = limits_.maxBytes;
    x.headOnly = method == "HEAD";
    HttpOutcome outcome;

    QEventLoop loop;
    QTimer idle, total, watch;
    idle.setSingleShot(true);
    total.setSingleShot(true);
    const auto stop = [&](Failure why) {
        x.fail(why);
        loop.quit();
    };
    const auto alive = [&] { idle.start(limits_.idleMs); };
    const QByteArray request = requestHead(method, url, body, headers) + body;
    const auto send = [&] {
        alive();
        // A request goes out in one write, so Nagle's wait would only hold
        // its last segment back until the server's delayed acknowledgement.
        if (fresh) socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.write(request);
    };
    char buffer[kSocketBuffer];
    const auto readSome = [&] {
        alive();
        while (!x.over() && socket.bytesAvailable() > 0) {
            const qint64 got = socket.read(buffer, sizeof buffer);
            if (got <= 0) break;
            x.feed(buffer, buffer + got);
        }
        if (x.over()) loop.quit();
    };
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] { stop(Failure::Timeout); });
    QObject::connect(&total, &QTimer::timeout, &loop, [&] { stop(Failure::Timeout); });
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (cancelled_()) stop(Failure::Cancelled);
    });
    QObject::connect(&socket, &QSslSocket::readyRead, &loop, readSome);
    QObject::connect(&socket, &QSslSocket::bytesWritten, &loop, alive);
    QObject::connect(&socket, &QSslSocket::disconnected, &loop, [&] {
        readSome();
        x.closed();
        loop.quit();
    });
    QObject::connect(
        &socket, &QSslSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
            switch (error) {
                case QAbstractSocket::RemoteHostClosedError:
                    readSome();
                    x.closed();
                    loop.quit();
                    return;
                case QAbstractSocket::HostNotFoundError:
                    return stop(Failure::HostNotFound);
                case QAbstractSocket::ConnectionRefusedError:
                    return stop(Failure::Refused);
                case QAbstractSocket::SslHandshakeFailedError:
                    return stop(outcome.untrustedSha256.isEmpty() ? Failure::Tls
                                                                  : Failure::Untrusted);
                default:
                    return stop(x.anyByte ? Failure::Cut : Failure::Network);
            }
        });
    QObject::connect(&socket, &QSslSocket::sslErrors, &loop, [&](const QList<QSslError>& errors) {
        const QByteArray hex =
            socket.peerCertificate().digest(QCryptographicHash::Sha256).toHex().toUpper();
        if (trusts_(url, hex)) {
            socket.ignoreSslErrors(errors);
        } else {
            outcome.untrustedSha256 = hex;
            stop(Failure::Untrusted);
        }
    });
    if (fresh && isSecure(url)) {
        QObject::connect(&socket, &QSslSocket::encrypted, &loop, send);
        socket.connectToHostEncrypted(url.host(), quint16(portOf(url)));
    } else if (fresh) {
        QObject::connect(&socket, &QSslSocket::connected, &loop, send);
        socket.connectToHost(url.host(), quint16(portOf(url)));
    }
    idle.start(limits_.connectMs);
    total.start(limits_.totalMs);
    watch.start(kCancelPollMs);
    if (!fresh) send();
    if (!x.over()) loop.exec();
    idle.stop();
    total.stop();
    watch.stop();

    unanswered = x.failure == Failure::Cut && !x.anyByte;
    outcome.failure = x.failure;
    if (outcome.failure == Failure::None && x.phase != Exchange::Phase::Done)
        outcome.failure = Failure::Cut;
    outcome.answer = std::move(x.answer);
    if (outcome.failure == Failure::None && x.keepAlive) {
        reusable_ = true;
    } else {
        socket_->abort();
        socket_.reset();
    }
    return outcome;
}

}  // namespace contavio
