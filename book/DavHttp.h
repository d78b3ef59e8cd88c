// One HTTP/1.1 exchange at a time over a connection of its own (TCP, or TLS
// through QSslSocket), kept open for the next exchange with the same origin.
// The socket's read buffer is bounded (kSocketBuffer), so that a server that
// sends without end is held back by TCP itself rather than buffered: what
// waits in memory is the answer read so far, counted against maxBytes as it
// is read. Bodies: Content-Length, chunked, or up to the close; no
// compression is asked for. A connection kept from an earlier exchange that
// the server closed before answering is opened anew once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>
#include <functional>
#include <memory>

class QSslSocket;

namespace contavio {

inline constexpr qint64 kSocketBuffer = 64 * 1024;

struct HttpAnswer {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;
    QByteArray header(const QByteArray& lowerName) const;
};

struct HttpOutcome {
    enum class Failure {
        None,
        HostNotFound,
        Refused,
        Timeout,
        TooBig,
        Cut,        // closed or reset before the answer was whole
        Tls,        // the encrypted connection could not be made
        Untrusted,  // the certificate is vouched for by no authority nor the user
        Cancelled,
        Protocol,  // no HTTP answer
        Network,
    };
    Failure failure = Failure::None;
    HttpAnswer answer;
    QByteArray untrustedSha256;  // hex, upper case
};

struct HttpLimits {
    int connectMs = 0, idleMs = 0, totalMs = 0;
    qint64 maxBytes = 0;
};

class HttpConnection {
  public:
    // trusts(url, sha256 hex): whether a certificate no authority vouches
    // for is the one the user trusts there; cancelled(): stop now.
    HttpConnection(HttpLimits limits, std::function<bool(const QUrl&, const QByteArray&)> trusts,
                   std::function<bool()> cancelled);
    ~HttpConnection();

    HttpOutcome exchange(const QByteArray& method, const QUrl& url, const QByteArray& body,
                         const QList<QPair<QByteArray, QByteArray>>& headers);

  private:
    struct Exchange;
    HttpOutcome once(const QByteArray& method, const QUrl& url, const QByteArray& body,
                     const QList<QPair<QByteArray, QByteArray>>& headers, bool& unanswered);

    HttpLimits limits_;
    std::function<bool(const QUrl&, const QByteArray&)> trusts_;
    std::function<bool()> cancelled_;
    std::unique_ptr<QSslSocket> socket_;
    QString origin_;  // of the open connection
    bool reusable_ = false;
};

}  // namespace contavio
