// The WebDAV XML that the server sync speaks: the bodies it sends (PROPFIND,
// REPORT sync-collection and addressbook-multiget) and the multistatus it
// reads back. A body that is not well-formed XML, or no multistatus, is
// refused whole.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace contavio {

struct DavResource {
    QString href;                  // as the server wrote it (percent-encoded path or URL)
    int status = 200;              // of the response; 404: gone (sync-collection)
    QMap<QString, QString> props;  // local name -> text, of the properties found (200)
    QStringList types;             // local names inside resourcetype
    // The DAV: privileges of its current-user-privilege-set; none when the
    // server did not report one.
    std::optional<QStringList> privileges;
    bool isAddressBook() const { return types.contains(QStringLiteral("addressbook")); }
    // Whether the user may put cards in it: a privilege that holds writing
    // them, or no privilege set reported (a server that does not report it
    // lets the owner write).
    bool mayWrite() const;
};

struct DavMultistatus {
    std::vector<DavResource> resources;
    QString syncToken;  // of a sync-collection report
};

// None when the body is malformed or holds no multistatus. A property whose
// value is an href (current-user-principal, addressbook-home-set) reads as
// that href.
std::optional<DavMultistatus> parseMultistatus(const QByteArray& body);

// PROPFIND asking for the named properties (DAV:, CardDAV and, for getctag,
// CalendarServer ones).
QByteArray propfindBody(const QStringList& davProps, const QStringList& cardDavProps = {},
                        const QStringList& serverProps = {});
// REPORT sync-collection from token ("" for all), asking for getetag.
QByteArray syncCollectionBody(const QString& token);
// REPORT addressbook-multiget of the hrefs (as the server wrote them),
// asking for getetag and address-data.
QByteArray multigetBody(const QStringList& hrefs);

// "HTTP/1.1 404 Not Found" -> 404; 0 when unreadable.
int statusCodeOf(const QString& statusLine);

}  // namespace contavio
