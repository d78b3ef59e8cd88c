#include "book/DavDiscovery.h"

#include "book/Ansi.h"
#include "book/DavXml.h"
#include "book/Texts.h"

namespace contavio {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

struct Found {
    QUrl url;
    DavResource resource;
};

// PROPFIND Depth depth; none when the address is no WebDAV resource. What
// the user may do in each resource is asked too, to know the address books
// the user may write.
std::optional<std::vector<Found>> propfind(DavClient& client, const QUrl& url, const char* depth,
                                           const QList<int>& answers = {400, 405, 501}) {
    const DavReply reply =
        client.send("PROPFIND", url,
                    propfindBody({QStringLiteral("resourcetype"), QStringLiteral("displayname"),
                                  QStringLiteral("current-user-principal"),
                                  QStringLiteral("current-user-privilege-set")},
                                 {QStringLiteral("addressbook-home-set")}),
                    {{"Depth", depth}}, answers);
    if (reply.status != 207) return std::nullopt;
    const auto status = parseMultistatus(reply.body);
    if (!status) {
        throw ServerError(u("El servidor respondió algo ilegible (XML mal formado) a %1.")
                              .arg(url.toDisplayString()));
    }
    std::vector<Found> found;
    for (const DavResource& r : status->resources) {
        if (r.status / 100 == 2) found.push_back({reply.url.resolved(QUrl(r.href)), r});
    }
    return found;
}

QString lastSegment(const QUrl& url) {
    const QStringList parts = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? QString() : parts.last();
}

QString shownName(const Found& f) {
    const QString name = f.resource.props.value(QStringLiteral("displayname"));
    return name.isEmpty() ? lastSegment(f.url) : name;
}

// Named (or the one at the address given: atUrl), any of the address books
// found; else the only one the user may write, which alone are offered: the
// others are read-only (a server's book of all its users, or of the people
// written to lately).
ProbeResult choose(const std::vector<Found>& found, const ServerTarget& target,
                   bool atUrl = false) {
    ProbeResult result;
    std::vector<Found> books;
    QStringList readOnly;
    for (const Found& f : found) {
        if (f.resource.mayWrite()) {
            books.push_back(f);
            result.addressBooks << shownName(f);
        } else {
            readOnly << shownName(f);
        }
    }
    const Found* chosen = nullptr;
    if (atUrl && target.addressBook.isEmpty()) {
        chosen = &found.front();
    } else if (!target.addressBook.isEmpty()) {
        for (const Found& f : found) {
            if (shownName(f) == target.addressBook || lastSegment(f.url) == target.addressBook)
                chosen = &f;
        }
        if (!chosen) {
            result.error = u("Libreta no encontrada: no hay ninguna «%1» en el servidor.")
                               .arg(target.addressBook);
            return result;
        }
    } else if (books.size() == 1) {
        chosen = &books.front();
    } else if (books.empty() && !readOnly.isEmpty()) {
        result.error =
            ui(text::kDavOnlyReadOnly).arg(target.url.host(), readOnly.join(QStringLiteral(", ")));
        return result;
    } else if (books.empty()) {
        result.error = u("Libreta no encontrada: el servidor no tiene ninguna libreta de "
                         "direcciones para «%1».")
                           .arg(target.user);
        return result;
    } else {
        result.error = u("El servidor tiene varias libretas; elija una con --address-book "
                         "NOMBRE: %1.")
                           .arg(result.addressBooks.join(QStringLiteral(", ")));
        return result;
    }
    result.ok = true;
    result.addressBookUrl = chosen->url;
    if (!result.addressBooks.contains(shownName(*chosen)))
        result.addressBooks << shownName(*chosen);
    return result;
}

}  // namespace

ProbeResult discoverAddressBook(DavClient& client, const ServerTarget& target) {
    QUrl start = target.url;
    std::optional<std::vector<Found>> here;
    if (start.path().isEmpty() || start.path() == QLatin1String("/")) {
        QUrl known = start;
        known.setPath(QStringLiteral("/.well-known/carddav"));
        here = propfind(client, known, "0", {400, 404, 405, 501});
    }
    if (!here || here->empty()) here = propfind(client, start, "0");
    if (!here || here->empty()) {
        ProbeResult result;
        result.error = u("No hay un servidor CardDAV en %1.").arg(start.toDisplayString());
        return result;
    }
    const Found& top = here->front();
    if (top.resource.isAddressBook()) return choose({top}, target, true);

    QString home = top.resource.props.value(QStringLiteral("addressbook-home-set"));
    const QString principal = top.resource.props.value(QStringLiteral("current-user-principal"));
    if (home.isEmpty() && !principal.isEmpty()) {
        const auto atPrincipal = propfind(client, top.url.resolved(QUrl(principal)), "0");
        if (atPrincipal && !atPrincipal->empty())
            home =
                atPrincipal->front().resource.props.value(QStringLiteral("addressbook-home-set"));
    }
    const QUrl homeUrl = home.isEmpty() ? top.url : top.url.resolved(QUrl(home));
    const auto members = propfind(client, homeUrl, "1");
    std::vector<Found> books;
    if (members) {
        for (const Found& f : *members) {
            if (f.resource.isAddressBook()) books.push_back(f);
        }
    }
    return choose(books, target);
}

}  // namespace contavio
