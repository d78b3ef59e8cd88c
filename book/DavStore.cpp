#include "book/DavStore.h"

#include "book/DavXml.h"

namespace contavio {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

std::string etagOf(const DavResource& r) {
    return r.props.value(QStringLiteral("getetag")).toStdString();
}

[[noreturn]] void malformed(const QUrl& url) {
    throw ServerError(u("El servidor respondió algo ilegible (XML mal formado) a %1.")
                          .arg(url.toDisplayString()));
}

}  // namespace

DavStore::DavStore(DavClient& client, QUrl collection)
    : client_(client), collection_(std::move(collection)) {
    if (!collection_.path().endsWith(QLatin1Char('/')))
        collection_.setPath(collection_.path() + QLatin1Char('/'));
}

QUrl DavStore::urlOf(const std::string& name) const {
    QUrl url = collection_;
    url.setPath(collection_.path() + QString::fromStdString(name));
    return url;
}

std::string DavStore::nameOf(const QString& href) const {
    const QString path = collection_.resolved(QUrl(href)).path();
    const QString base = collection_.path();
    if (!path.startsWith(base) || path.size() == base.size()) return {};
    const QString rest = path.mid(base.size());
    if (rest.contains(QLatin1Char('/'))) return {};
    return rest.toStdString();
}

StoreListing DavStore::list() {
    StoreListing listing;
    if (!cursor_.empty() && listChanges(listing)) return listing;
    return listAll();
}

// The changes since the cursor; false when the server no longer knows it.
bool DavStore::listChanges(StoreListing& listing) {
    const DavReply reply =
        client_.send("REPORT", collection_, syncCollectionBody(QString::fromStdString(cursor_)),
                     {{"Depth", "0"}}, {400, 403, 409});
    if (reply.status != 207) return false;  // 403/409 valid-sync-token: start over
    const auto status = parseMultistatus(reply.body);
    if (!status) malformed(collection_);
    listing.items = known_;
    for (const DavResource& r : status->resources) {
        const std::string name = nameOf(r.href);
        if (name.empty()) continue;
        if (r.status == 404) {
            listing.items.erase(name);
        } else {
            listing.items[name] = etagOf(r);
        }
    }
    cursor_ = status->syncToken.toStdString();
    return true;
}

StoreListing DavStore::listAll() {
    StoreListing listing;
    DavReply reply = client_.send("REPORT", collection_, syncCollectionBody(QString()),
                                  {{"Depth", "0"}}, {400, 403, 405, 409, 415, 422, 501});
    std::optional<DavMultistatus> status;
    if (reply.status == 207) status = parseMultistatus(reply.body);
    if (reply.status == 207 && !status) malformed(collection_);
    if (!status || status->syncToken.isEmpty()) {
        // No sync-collection here: the ETag of every item.
        cursor_.clear();
        reply =
            client_.send("PROPFIND", collection_,
                         propfindBody({QStringLiteral("getetag"), QStringLiteral("resourcetype")}),
                         {{"Depth", "1"}});
        if (reply.status != 207) {
            throw ServerError(u("El servidor no lista la libreta %1 (respuesta %2).")
                                  .arg(collection_.toDisplayString())
                                  .arg(reply.status));
        }
        status = parseMultistatus(reply.body);
        if (!status) malformed(collection_);
    } else {
        cursor_ = status->syncToken.toStdString();
    }
    for (const DavResource& r : status->resources) {
        const std::string name = nameOf(r.href);
        if (name.empty() || r.status == 404 || !r.types.isEmpty()) continue;
        listing.items[name] = etagOf(r);
    }
    return listing;
}

std::string DavStore::read(const std::string& name) {
    const auto bytes = readMany({name});
    return bytes.at(name);
}

std::map<std::string, std::string> DavStore::readMany(const std::vector<std::string>& names) {
    std::map<std::string, std::string> bytes;
    for (size_t at = 0; at < names.size(); at += kMultigetBatch) {
        QStringList hrefs;
        for (size_t i = at; i < names.size() && i < at + kMultigetBatch; ++i)
            hrefs << urlOf(names[i]).toString(QUrl::FullyEncoded | QUrl::RemoveScheme |
                                              QUrl::RemoveAuthority);
        const DavReply reply =
            client_.send("REPORT", collection_, multigetBody(hrefs), {{"Depth", "1"}});
        if (reply.status != 207) {
            throw ServerError(u("El servidor no entrega las tarjetas de %1 (respuesta %2).")
                                  .arg(collection_.toDisplayString())
                                  .arg(reply.status));
        }
        const auto status = parseMultistatus(reply.body);
        if (!status) malformed(collection_);
        for (const DavResource& r : status->resources) {
            const std::string name = nameOf(r.href);
            const auto data = r.props.find(QStringLiteral("address-data"));
            if (name.empty() || r.status != 200 || data == r.props.end()) continue;
            bytes[name] = data->toStdString();
        }
    }
    for (const std::string& name : names) {
        if (!bytes.count(name))
            throw StoreChanged("\xAB" + name + "\xBB ya no est\xE1 en el servidor");
    }
    return bytes;
}

std::string DavStore::write(const std::string& name, std::string_view bytes,
                            const std::optional<std::string>& ifVersion) {
    DavHeaders headers{{"Content-Type", "text/vcard; charset=utf-8"}};
    if (ifVersion) {
        headers.append(qMakePair(QByteArray("If-Match"), QByteArray::fromStdString(*ifVersion)));
    } else {
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    }
    const DavReply reply =
        client_.send("PUT", urlOf(name), QByteArray(bytes.data(), qsizetype(bytes.size())), headers,
                     {404, 409, 412});
    if (reply.status == 412 || (reply.status == 404 && ifVersion)) {
        throw StoreChanged("\xAB" + name + "\xBB cambi\xF3 en el servidor");
    }
    if (reply.status / 100 != 2) {
        throw ServerError(u("El servidor no guardó la tarjeta %1 (respuesta %2).")
                              .arg(QString::fromStdString(name))
                              .arg(reply.status));
    }
    return reply.etag.toStdString();
}

void DavStore::remove(const std::string& name, const std::string& ifVersion) {
    DavHeaders headers;
    if (!ifVersion.empty())
        headers.append(qMakePair(QByteArray("If-Match"), QByteArray::fromStdString(ifVersion)));
    const DavReply reply = client_.send("DELETE", urlOf(name), {}, headers, {404, 412});
    if (reply.status == 404) return;
    if (reply.status == 412) throw StoreChanged("\xAB" + name + "\xBB cambi\xF3 en el servidor");
    if (reply.status / 100 != 2) {
        throw ServerError(u("El servidor no borró la tarjeta %1 (respuesta %2).")
                              .arg(QString::fromStdString(name))
                              .arg(reply.status));
    }
}

}  // namespace contavio
