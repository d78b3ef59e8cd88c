// One file although past 500 lines: the listing, the reading and the writing
// of the address book share the versions, the cursor and the cards withheld
// that each of them keeps up to date for the others.
#include "book/DavStore.h"

#include <QCryptographicHash>

#include "book/Ansi.h"
#include "book/DavWrites.h"
#include "book/DavXml.h"
#include "book/Texts.h"

namespace contavio {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

// A version the server gave and compares byte for byte: neither weak ("W/")
// nor one of content ("~").
bool isStrong(const std::string& etag) {
    return !etag.empty() && etag.rfind("W/", 0) != 0 && etag[0] != '~';
}

// The version of a card known by its content alone: line ends and folding
// are no content, as XML turns CR LF into LF, and neither are REV and PRODID,
// which a server may add to a card it stores (DAViCal adds REV).
std::string contentVersion(const std::string& bytes) {
    QByteArray text = QByteArray::fromStdString(bytes);
    text.replace('\r', QByteArray()).replace("\n ", QByteArray()).replace("\n\t", QByteArray());
    QByteArray kept;
    for (const QByteArray& line : text.split('\n')) {
        QByteArray name = line.toUpper();
        for (const char end : {':', ';'}) {
            if (const qsizetype at = name.indexOf(end); at >= 0) name.truncate(at);
        }
        name = name.mid(name.lastIndexOf('.') + 1);
        if (name != "REV" && name != "PRODID") kept += line + '\n';
    }
    return "~" + QCryptographicHash::hash(kept, QCryptographicHash::Sha256)
                     .toHex()
                     .left(32)
                     .toStdString();
}

std::string etagOf(const DavResource& r) {
    return r.props.value(QStringLiteral("getetag")).toStdString();
}

[[noreturn]] void malformed(const QUrl& url) {
    throw ServerError(u("El servidor respondió algo ilegible (XML mal formado) a %1.")
                          .arg(url.toDisplayString()));
}

QString reasonOf(int status) {
    if (status == 403) return ui(text::kDavWithheldForbidden);
    if (status == 404) return ui(text::kDavWithheldMissing);
    return ui(text::kDavWithheldOther).arg(status);
}

// A field of the cursor: its bytes but blanks and line ends.
std::string field(const std::string& text) {
    return QByteArray::fromStdString(text).toPercentEncoding("/:~\"").toStdString();
}
std::string unfield(const QByteArray& text) {
    return QByteArray::fromPercentEncoding(text).toStdString();
}

// The version of a card that is still not handed out: no card's.
constexpr char kUnseenVersion[] = "?";

// What the server refuses a token with, or lists nothing for: it is dropped.
const QList<int> kTokenRefused = {400, 403, 404, 405, 409, 410, 412,
                                  415, 422, 500, 501, 502, 504, 507};

}  // namespace

DavStore::DavStore(DavClient& client, QUrl collection)
    : client_(client), collection_(std::move(collection)) {
    client_.stayAt(collection_);
    if (!collection_.path().endsWith(QLatin1Char('/')))
        collection_.setPath(collection_.path() + QLatin1Char('/'));
}

// The cursor: the sync token on its first line, then "ctag VALUE", "etag
// NAME VERSION ETAG" for each card known by content, "href NAME HREF" for
// each href that is not the name's plain spelling, "wrote NAME" for each
// card written after the token was given, and "again NAME" for each card
// the sync could not read whole.
void DavStore::resume(const std::string& cursor, const std::map<std::string, std::string>& items) {
    known_ = items;
    token_.clear();
    ctag_.clear();
    etags_.clear();
    hrefs_.clear();
    wroteBefore_.clear();
    wrote_.clear();
    againBefore_.clear();
    again_.clear();
    const QList<QByteArray> lines = QByteArray::fromStdString(cursor).split('\n');
    token_ = lines.value(0).toStdString();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split(' ');
        if (f.size() == 2 && f[0] == "ctag") ctag_ = unfield(f[1]);
        if (f.size() == 4 && f[0] == "etag") etags_[unfield(f[1])] = {unfield(f[2]), unfield(f[3])};
        if (f.size() == 3 && f[0] == "href")
            hrefs_[unfield(f[1])] = QString::fromStdString(unfield(f[2]));
        if (f.size() == 2 && f[0] == "wrote") wroteBefore_.insert(unfield(f[1]));
        if (f.size() == 2 && f[0] == "again") againBefore_.insert(unfield(f[1]));
    }
}

std::string DavStore::cursor() const {
    std::string out = token_;
    if (!ctag_.empty()) out += "\nctag " + field(ctag_);
    for (const auto& [name, k] : etags_)
        out += "\netag " + field(name) + ' ' + field(k.version) + ' ' + field(k.etag);
    for (const auto& [name, href] : hrefs_) {
        if (href != plainHref(name))
            out += "\nhref " + field(name) + ' ' + field(href.toStdString());
    }
    if (!token_.empty()) {
        for (const std::string& name : wrote_) out += "\nwrote " + field(name);
    }
    for (const std::string& name : again_) out += "\nagain " + field(name);
    return out;
}

QString DavStore::plainHref(const std::string& name) const {
    return collection_.path(QUrl::FullyEncoded) +
           QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(name)));
}

QString DavStore::hrefOf(const std::string& name) const {
    const auto it = hrefs_.find(name);
    return it != hrefs_.end() ? it->second : plainHref(name);
}

QUrl DavStore::urlOf(const std::string& name) const {
    return collection_.resolved(QUrl(hrefOf(name), QUrl::StrictMode));
}

// The last segment of the path, decoded: an encoded slash in it ("a%2Fb")
// gives a name with a slash, which only the kept copies' file names tame.
std::string DavStore::nameOf(const QString& href) const {
    const QString path = collection_.resolved(QUrl(href)).path(QUrl::FullyEncoded);
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    const QString last = path.mid(cut + 1);
    if (last.isEmpty() ||
        QUrl::fromPercentEncoding(path.left(cut + 1).toUtf8()) != collection_.path())
        return {};
    return QUrl::fromPercentEncoding(last.toUtf8()).toStdString();
}

bool DavStore::isCollection(const QString& href) const {
    const QString path = collection_.resolved(QUrl(href)).path();
    return path == collection_.path() || path + QLatin1Char('/') == collection_.path();
}

void DavStore::remember(const DavResource& r, const std::string& name) { hrefs_[name] = r.href; }

StoreListing DavStore::list() {
    fetched_.clear();
    withheld_.clear();
    unsent_.clear();
    mentioned_.clear();
    puts_.clear();
    deletes_.clear();
    queued_.clear();
    // kept: the state's versions of cards unchanged since; fresh: the ETags
    // the server lists now.
    std::map<std::string, std::string> kept, fresh;
    bool listed = false;
    if (!token_.empty()) {
        kept = known_;
        listed = syncCollection(kept, fresh);
        if (listed) {
            stillThere(kept, fresh);
        } else {
            token_.clear();
            kept.clear();
            fresh.clear();
        }
    } else if (!ctag_.empty()) {
        // No sync-collection here: the CTag tells whether anything changed,
        // unless a card could not be read whole last time.
        if (againBefore_.empty() && ctagUnchanged()) {
            kept = known_;
        } else {
            fresh = propfindAll();
        }
        listed = true;
    }
    if (!listed && !syncCollection(kept, fresh)) {
        kept.clear();
        fresh = propfindAll();
    }

    StoreListing listing;
    listing.items = kept;
    std::vector<std::string> unknown;
    for (const auto& [name, etag] : fresh) {
        if (isStrong(etag)) {
            const auto read = fetched_.find(name);
            listing.items[name] =
                versionOf(name, etag, read == fetched_.end() ? nullptr : &read->second);
        } else {
            unknown.push_back(name);
        }
    }
    // Without a strong ETag a card is known by what it holds.
    std::map<std::string, std::string> bytes, etags;
    multiget(unknown, bytes, &etags);
    for (const std::string& name : unknown) {
        const std::string& card = bytes[name];
        fetched_[name] = card;
        listing.items[name] = card.empty() ? std::string() : versionOf(name, etags[name], &card);
    }
    for (auto it = etags_.begin(); it != etags_.end();) {
        const auto now = listing.items.find(it->first);
        it = now == listing.items.end() || now->second != it->second.version ? etags_.erase(it)
                                                                             : std::next(it);
    }
    for (auto it = hrefs_.begin(); it != hrefs_.end();)
        it = listing.items.count(it->first) ? std::next(it) : hrefs_.erase(it);
    return listing;
}

std::string DavStore::versionOf(const std::string& name, const std::string& etag,
                                const std::string* bytes) {
    const auto was = known_.find(name);
    if (was != known_.end() && was->second.rfind('~', 0) == 0) {
        const auto k = etags_.find(name);
        if (isStrong(etag) && k != etags_.end() && k->second.version == was->second &&
            k->second.etag == etag) {
            return was->second;
        }
        if (bytes && contentVersion(*bytes) == was->second) {
            if (isStrong(etag)) etags_[name] = {was->second, etag};
            return was->second;
        }
    }
    if (isStrong(etag)) return etag;
    return bytes ? contentVersion(*bytes) : std::string();
}

// A card written after the token, then deleted by another client before the
// next sync, may be left out of the changes since the token (a server that
// tells the difference between two states, as Xandikos does): the cards
// written then that the changes do not mention are asked for.
// The cards the last sync could not read whole are asked for too, as a
// change of theirs since may be behind the token: one that reads whole now is
// listed as it is; one still withheld stays as the state has it, to be asked
// again.
void DavStore::stillThere(std::map<std::string, std::string>& kept,
                          std::map<std::string, std::string>& fresh) {
    std::vector<std::string> ask;
    const auto unmentioned = [&](const std::string& name) {
        return !fresh.count(name) && !mentioned_.count(name);
    };
    for (const std::string& name : wroteBefore_) {
        if (kept.count(name) && unmentioned(name)) ask.push_back(name);
    }
    for (const std::string& name : againBefore_) {
        if (!wroteBefore_.count(name) && unmentioned(name)) ask.push_back(name);
    }
    std::map<std::string, std::string> bytes, etags;
    std::map<std::string, QString> now = withheld_;
    multiget(ask, bytes, &etags);
    std::swap(withheld_, now);  // now: with what this multiget withheld
    for (const std::string& name : ask) {
        if (!bytes[name].empty()) {
            fresh[name] = etags[name];
            fetched_[name] = bytes[name];
            kept.erase(name);
        } else if (againBefore_.count(name)) {
            // Still not handed out: changed, for all this sync knows, and
            // read as no card, which the sync skips (a book that deleted its
            // contact does not delete a card it has not seen).
            again_.insert(name);
            kept[name] = kUnseenVersion;
            fetched_[name].clear();
            if (const auto why = now.find(name); why != now.end()) withheld_[name] = why->second;
        } else {
            kept.erase(name);
        }
    }
}

// The changes since token_ (or every card, from none), applied onto kept
// and fresh; an answer cut short goes on from the token it gives.
bool DavStore::syncCollection(std::map<std::string, std::string>& kept,
                              std::map<std::string, std::string>& fresh) {
    QString token = QString::fromStdString(token_);
    for (int part = 1, idleParts = 0;; ++part) {
        const DavReply reply = client_.send("REPORT", collection_, syncCollectionBody(token),
                                            {{"Depth", "0"}}, kTokenRefused);
        if (reply.status != 207) return false;
        const auto status = parseMultistatus(reply.body);
        if (!status) malformed(collection_);
        bool cut = false;
        const size_t mentionedBefore = mentioned_.size();
        for (const DavResource& r : status->resources) {
            if (isCollection(r.href)) {
                cut = cut || r.status == 507;
                continue;
            }
            const std::string name = nameOf(r.href);
            if (name.empty() || !r.types.isEmpty()) continue;
            kept.erase(name);
            mentioned_.insert(name);
            if (r.status == 404) {
                fresh.erase(name);
            } else {
                fresh[name] = etagOf(r);
                remember(r, name);
            }
        }
        if (status->syncToken.isEmpty()) return false;
        if (!cut) {
            token_ = status->syncToken.toStdString();
            ctag_.clear();
            return true;
        }
        if (status->syncToken == token)
            throw ServerError(ui(text::kDavTruncated).arg(collection_.host()));
        // Parts that bring no card not listed before lead nowhere.
        idleParts = mentioned_.size() > mentionedBefore ? 0 : idleParts + 1;
        if (idleParts >= kMaxIdleListingParts || part >= kMaxListingParts)
            throw ServerError(ui(text::kDavEndlessListing).arg(collection_.host()).arg(part));
        token = status->syncToken;
    }
}

bool DavStore::ctagUnchanged() {
    const DavReply reply =
        client_.send("PROPFIND", collection_, propfindBody({}, {}, {QStringLiteral("getctag")}),
                     {{"Depth", "0"}}, {400, 403, 405, 501});
    if (reply.status != 207) return false;
    const auto status = parseMultistatus(reply.body);
    if (!status) malformed(collection_);
    for (const DavResource& r : status->resources) {
        if (isCollection(r.href))
            return r.props.value(QStringLiteral("getctag")).toStdString() == ctag_;
    }
    return false;
}

// Every card's ETag, and the collection's CTag.
std::map<std::string, std::string> DavStore::propfindAll() {
    token_.clear();
    const DavReply reply =
        client_.send("PROPFIND", collection_,
                     propfindBody({QStringLiteral("getetag"), QStringLiteral("resourcetype")}, {},
                                  {QStringLiteral("getctag")}),
                     {{"Depth", "1"}});
    if (reply.status != 207) {
        throw ServerError(u("El servidor no lista la libreta %1 (respuesta %2).")
                              .arg(collection_.toDisplayString())
                              .arg(reply.status));
    }
    const auto status = parseMultistatus(reply.body);
    if (!status) malformed(collection_);
    std::map<std::string, std::string> fresh;
    for (const DavResource& r : status->resources) {
        if (isCollection(r.href)) {
            ctag_ = r.props.value(QStringLiteral("getctag")).toStdString();
            continue;
        }
        const std::string name = nameOf(r.href);
        if (name.empty() || r.status == 404 || !r.types.isEmpty()) continue;
        fresh[name] = etagOf(r);
        remember(r, name);
    }
    return fresh;
}

void DavStore::multiget(const std::vector<std::string>& names,
                        std::map<std::string, std::string>& bytes,
                        std::map<std::string, std::string>* etags, bool told) {
    for (size_t at = 0; at < names.size(); at += kMultigetBatch) {
        if (told && progress_) progress_({false, at, names.size()});
        const auto end = names.begin() +
                         static_cast<std::ptrdiff_t>(std::min(names.size(), at + kMultigetBatch));
        multigetBatch({names.begin() + static_cast<std::ptrdiff_t>(at), end}, bytes, etags);
    }
    if (told && progress_ && !names.empty()) progress_({false, names.size(), names.size()});
}

// One multiget. An answer over the size limit (cards with large photos) is
// asked again in halves; a single card over it is withheld, and named.
void DavStore::multigetBatch(const std::vector<std::string>& batch,
                             std::map<std::string, std::string>& bytes,
                             std::map<std::string, std::string>* etags) {
    {
        QStringList hrefs;
        std::map<std::string, bool> asked;
        for (const std::string& name : batch) {
            hrefs << hrefOf(name);
            asked[name] = false;
        }
        DavReply reply;
        try {
            reply = client_.send("REPORT", collection_, multigetBody(hrefs), {{"Depth", "1"}});
        } catch (const AnswerTooBig& tooBig) {
            if (batch.size() == 1) {
                withheld_[batch.front()] = tooBig.message();
                bytes[batch.front()].clear();
                return;
            }
            const auto half = batch.begin() + static_cast<std::ptrdiff_t>(batch.size() / 2);
            multigetBatch({batch.begin(), half}, bytes, etags);
            multigetBatch({half, batch.end()}, bytes, etags);
            return;
        }
        if (reply.status != 207) {
            throw ServerError(u("El servidor no entrega las tarjetas de %1 (respuesta %2).")
                                  .arg(collection_.toDisplayString())
                                  .arg(reply.status));
        }
        const auto status = parseMultistatus(reply.body);
        if (!status) malformed(collection_);
        for (const DavResource& r : status->resources) {
            const std::string name = nameOf(r.href);
            const auto wanted = asked.find(name);
            if (wanted == asked.end()) continue;
            wanted->second = true;
            const auto data = r.props.find(QStringLiteral("address-data"));
            if (r.status / 100 == 2 && data != r.props.end()) {
                bytes[name] = data->toStdString();
                if (etags) (*etags)[name] = etagOf(r);
            } else {
                withheld_[name] = reasonOf(r.status / 100 == 2 ? 404 : r.status);
                bytes[name].clear();
            }
        }
        for (const auto& [name, answered] : asked) {
            if (answered) continue;
            withheld_[name] = reasonOf(404);
            bytes[name].clear();
        }
    }
}

std::string DavStore::read(const std::string& name) {
    const auto bytes = readMany({name});
    return bytes.at(name);
}

// A card the server will not hand out reads as no card: the sync skips it
// and keeps its pair; withheld() says why.
std::map<std::string, std::string> DavStore::readMany(const std::vector<std::string>& names) {
    std::map<std::string, std::string> bytes;
    std::vector<std::string> ask;
    for (const std::string& name : names) {
        if (auto it = fetched_.find(name); it != fetched_.end()) {
            bytes[name] = it->second;
        } else {
            ask.push_back(name);
        }
    }
    multiget(ask, bytes, nullptr);
    return bytes;
}

// The If-Match for a card last known at version: its ETag; or, for a card
// known by content alone, "*" once it still reads the same (StoreChanged if
// not); none when it is no longer there.
std::optional<QByteArray> DavStore::precondition(const std::string& name,
                                                 const std::string& version) {
    if (isStrong(version)) return QByteArray::fromStdString(version);
    if (auto k = etags_.find(name); k != etags_.end() && k->second.version == version)
        return QByteArray::fromStdString(k->second.etag);
    std::map<std::string, std::string> now;
    const auto listed = withheld_;
    multiget({name}, now, nullptr, false);
    withheld_ = listed;
    if (now[name].empty()) return std::nullopt;
    if (contentVersion(now[name]) != version)
        throw StoreChanged("\xAB" + name + "\xBB cambi\xF3 en el servidor");
    return QByteArray("*");
}

// Queued: flush() sends the writes several at once, then the deletes. The
// version is the card's content; the ETag the server answers is kept for it.
std::string DavStore::write(const std::string& name, std::string_view bytes,
                            const std::optional<std::string>& ifVersion) {
    DavHeaders headers{{"Content-Type", "text/vcard; charset=utf-8"}};
    if (ifVersion) {
        const auto match = precondition(name, *ifVersion);
        if (!match) throw StoreChanged("\xAB" + name + "\xBB ya no est\xE1 en el servidor");
        headers.append(qMakePair(QByteArray("If-Match"), *match));
    } else {
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    }
    const std::string version = contentVersion(std::string(bytes));
    puts_.push_back(
        {"PUT", urlOf(name), QByteArray(bytes.data(), qsizetype(bytes.size())), headers, {}});
    queued_.push_back({name, version, ifVersion.has_value()});
    etags_.erase(name);
    wrote_.insert(name);
    return version;
}

void DavStore::remove(const std::string& name, const std::string& ifVersion) {
    const auto match = precondition(name, ifVersion);
    if (!match) return;  // gone already
    deletes_.push_back({"DELETE", urlOf(name), {}, {{"If-Match", *match}}, {}});
    etags_.erase(name);
}

void DavStore::send(std::vector<DavWrite>& writes, const QList<int>& answers, size_t before,
                    size_t total) {
    if (!progress_) return sendAll(client_, writes, answers);
    sendAll(client_, writes, answers, [&](size_t sent) {
        progress_({true, before + sent, total});
    });
}

// The queued writes, then the deletes; then the ETags of the cards written
// without one, which the next sync knows them by.
void DavStore::flush() {
    std::vector<DavWrite> puts = std::move(puts_), deletes = std::move(deletes_);
    const std::vector<Queued> queued = std::move(queued_);
    puts_.clear();
    deletes_.clear();
    queued_.clear();
    send(puts, {404, 409, 412}, 0, puts.size() + deletes.size());
    std::string changed;
    for (size_t i = 0; i < puts.size(); ++i) {
        const Queued& q = queued[i];
        const DavReply& reply = puts[i].reply;
        if (reply.status == 412 || (reply.status == 404 && q.existed)) {
            changed = q.name;
        } else if (reply.status / 100 != 2) {
            throw ServerError(u("El servidor no guardó la tarjeta %1 (respuesta %2).")
                                  .arg(QString::fromStdString(q.name))
                                  .arg(reply.status));
        } else if (isStrong(reply.etag.toStdString())) {
            etags_[q.name] = {q.version, reply.etag.toStdString()};
        } else {
            unsent_[q.name] = q.version;
        }
    }
    if (!changed.empty()) throw StoreChanged("\xAB" + changed + "\xBB cambi\xF3 en el servidor");
    send(deletes, {404, 412}, puts.size(), puts.size() + deletes.size());
    for (const DavWrite& d : deletes) {
        const int status = d.reply.status;
        const std::string name = nameOf(d.url.toString(QUrl::FullyEncoded));
        if (status == 412) throw StoreChanged("\xAB" + name + "\xBB cambi\xF3 en el servidor");
        if (status != 404 && status / 100 != 2) {
            throw ServerError(u("El servidor no borró la tarjeta %1 (respuesta %2).")
                                  .arg(QString::fromStdString(name))
                                  .arg(status));
        }
    }
    if (!unsent_.empty()) {
        std::vector<std::string> names;
        for (const auto& [name, version] : unsent_) names.push_back(name);
        std::map<std::string, std::string> bytes, etags;
        const auto before = withheld_;
        try {
            multiget(names, bytes, &etags);
        } catch (const ServerError&) {
            // Then the next sync reads those cards once more.
        }
        withheld_ = before;
        for (const auto& [name, version] : unsent_) {
            if (isStrong(etags[name]) && contentVersion(bytes[name]) == version)
                etags_[name] = {version, etags[name]};
        }
        unsent_.clear();
    }
    std::set<std::string> written, deleted;
    for (const Queued& q : queued) written.insert(q.name);
    for (const DavWrite& d : deletes) deleted.insert(nameOf(d.url.toString(QUrl::FullyEncoded)));
    settle(written, deleted);
}

// When the changes since the token are exactly this sync's writes (each
// card with the ETag it was written with) and deletes, the token after them
// is kept, so that the next sync with nothing to do lists nothing new and
// writes no state. Anything else among them, a write they do not show, or a
// failure leaves the token as it was, for the next sync to list from.
void DavStore::settle(const std::set<std::string>& written, const std::set<std::string>& deleted) {
    if (token_.empty() || (written.empty() && deleted.empty())) return;
    DavReply reply;
    try {
        reply =
            client_.send("REPORT", collection_, syncCollectionBody(QString::fromStdString(token_)),
                         {{"Depth", "0"}}, kTokenRefused);
    } catch (const ServerError&) {
        return;
    }
    if (reply.status != 207) return;
    const auto status = parseMultistatus(reply.body);
    if (!status || status->syncToken.isEmpty()) return;
    std::set<std::string> seen;
    for (const DavResource& r : status->resources) {
        if (isCollection(r.href)) {
            if (r.status == 507) return;
            continue;
        }
        const std::string name = nameOf(r.href);
        const auto known = etags_.find(name);
        const bool ours = r.status == 404
                              ? deleted.count(name) > 0
                              : written.count(name) > 0 && known != etags_.end() &&
                                    isStrong(etagOf(r)) && known->second.etag == etagOf(r);
        if (!ours) return;
        seen.insert(name);
    }
    if (seen.size() != written.size() + deleted.size()) return;
    token_ = status->syncToken.toStdString();
    wrote_.clear();
}

}  // namespace contavio
