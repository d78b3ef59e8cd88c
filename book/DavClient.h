// HTTP for the server sync: one connection to the server (HttpConnection),
// synchronous requests with an event loop of their own, for the thread that
// made the client.
//
// - Redirects are followed (at most kMaxRedirects), to http(s):// only. The
//   password (Basic) goes to the scheme, host and port the user gave, and
//   elsewhere only over HTTPS: to a host of the same registrable domain (the
//   Public Suffix List, through libpsl), or to one the user confirmed for the
//   account (passwordHostsFor). An answer 401 from a host it was kept from
//   says so, naming the address, instead of calling the password wrong.
// - Google's addresses are refused with a plain word: they need OAuth 2.
// - The password is not sent over plain http:// to a host other than this
//   machine (localhost, 127.0.0.1, ::1) unless allowPlainHttp.
// - HTTPS: the system's authorities; a certificate they do not vouch for is
//   refused, naming its SHA-256 fingerprint, unless it is exactly the one the
//   user trusts for that host.
// - Limits: connecting, silence in the middle of a transfer, a whole
//   exchange, and the size of a response, counted as it is read, with at
//   most kSocketBuffer waiting in the socket (DavLimits; the environment
//   variable CONTAVIO_DAV_LIMITS="connect,idle,total,bytes" in ms and bytes
//   overrides them, for tests).
// - 429 and 503 with a Retry-After of at most kLongestWait are waited for
//   and sent again; otherwise every failure is a ServerError in words.
// - ServerTarget::cancelled stops the request under way, or a wait, within
//   kCancelPollMs.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QUrl>
#include <memory>

#include "book/DavHttp.h"
#include "book/ServerSync.h"

namespace contavio {

struct DavLimits {
    int connectMs = 20000;
    int idleMs = 30000;
    int totalMs = 600000;
    qint64 maxBytes = 256 * 1024 * 1024;
};

inline constexpr int kMaxRedirects = 5;
inline constexpr int kLongestWait = 30;   // seconds of Retry-After waited for
inline constexpr int kCancelPollMs = 50;  // how soon a cancelled sync notices

struct DavReply {
    int status = 0;
    QByteArray body;
    QUrl url;  // where the answer came from, after redirects
    QByteArray etag;
    QUrl location;        // of a redirect
    int retryAfter = -1;  // seconds, when the server said so
};

using DavHeaders = QList<QPair<QByteArray, QByteArray>>;

class DavClient {
  public:
    explicit DavClient(const ServerTarget& target);
    ~DavClient();

    // Sends the request and returns the server's answer, whatever its
    // status, except 401, 403, 404, 429/503, 5xx and a failure to talk at
    // all, which throw ServerError; a status in `answers` is returned.
    DavReply send(const QByteArray& method, const QUrl& url, const QByteArray& body = {},
                  const DavHeaders& headers = {}, const QList<int>& answers = {});

    int requests() const { return requests_; }
    // Adds the requests that other clients sent for this one.
    void countRequests(int more) { requests_ += more; }
    const ServerTarget& target() const { return target_; }
    // From now on a redirect that leaves the origin of url is refused: the
    // address book was found, and its cards go nowhere else.
    void stayAt(const QUrl& url);
    void stayAtOrigin(const QString& origin) { stayAt_ = origin; }
    const QString& stayingAt() const { return stayAt_; }

  private:
    DavReply sendOnce(const QByteArray& method, const QUrl& url, const QByteArray& body,
                      const DavHeaders& headers);
    bool mayAuthenticate(const QUrl& url) const;
    void throwIfCancelled() const;

    ServerTarget target_;
    QStringList confirmed_;  // origins the user let the password go to
    DavLimits limits_;
    std::unique_ptr<HttpConnection> http_;
    int requests_ = 0;
    QString stayAt_;  // an origin, or empty: redirects may go anywhere
};

// The SHA-256 fingerprint in hex, upper case, without separators; and the
// same as a person reads it, "AB:CD:...".
QByteArray normalizedFingerprint(const QByteArray& text);
QString shownFingerprint(const QByteArray& hex);

// A host that is this machine: localhost, 127.0.0.1, ::1.
bool isThisMachine(const QString& host);

// "https://host:443": the scheme, host and port of an address.
QString originOf(const QUrl& url);
// Two hosts under the same registrable domain ("p07-contacts.icloud.com" and
// "contacts.icloud.com"); never for addresses or public suffixes.
bool sameRegistrableDomain(const QString& a, const QString& b);

}  // namespace contavio
