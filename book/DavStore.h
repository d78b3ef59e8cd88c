// An address book on a CardDAV server as a card store: an item's name is
// the last segment of its path in the collection (decoded), its version the
// ETag; each item is reached again by its href exactly as the server wrote
// it.
//
// list(): with a cursor (the sync-token of the last sync) one REPORT
// sync-collection brings what changed since, applied onto the items as they
// were (a card the last sync wrote that the changes do not mention is asked
// for: created and deleted since the token, it may go unmentioned); without one, a sync-collection
// from nothing; an answer cut short (507 on the collection) goes on from the token it gives until
// whole. A token the server refuses or fails on (a 4xx or 5xx) is dropped and everything listed
// again. Where the server offers no sync-collection: PROPFIND Depth 1 for every ETag, and the
// collection's CTag (getctag), which the next sync asks first: unchanged, nothing else is asked.
//
// A strong ETag is the version. Where the server gives none, or a weak one,
// the version is unknown: the card is read (addressbook-multiget) and its
// version is the ETag the multiget gives, or else its content ("~" and a
// hash of it), compared with the state's. A content version is never sent
// as If-Match: such a card is read again just before it is written, and
// written only if it still reads the same (If-Match: *).
// write() and remove() are queued; flush() sends the writes, several at once
// (DavWrites), then the deletes. A written card's version is its content; the
// ETag the server answers is kept with it in the cursor, so that the next
// sync knows that card by its ETag. For the cards written without one,
// flush() asks their ETags (one multiget) and keeps each one that reads as
// written. Then, where the server lists changes from a token, it asks them
// once more: when they are this sync's own, the token after them is kept
// (see settle()).
//
// readMany(): addressbook-multiget in batches of kMultigetBatch. A card the
// server lists but does not hand out (404 or 403 inside the multiget) reads
// as no card, which the sync skips, keeping its pair; withheld() names it
// with the reason. A write is a PUT with If-Match, or If-None-Match: * for a
// new item; a delete, DELETE with If-Match. 412 is StoreChanged, from flush().
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <map>
#include <set>

#include "book/DavClient.h"
#include "book/DavWrites.h"
#include "exchange/CardStore.h"

namespace contavio {

inline constexpr int kMultigetBatch = 200;
// How many answers of one sync-collection cut short (507) are followed, and
// how many of them in a row that bring no card not listed before.
inline constexpr int kMaxListingParts = 10000;
inline constexpr int kMaxIdleListingParts = 20;

struct DavResource;

class DavStore : public CardStore {
  public:
    // collection: the address book's URL (ending in '/').
    DavStore(DavClient& client, QUrl collection);

    StoreListing list() override;
    std::string read(const std::string& name) override;
    std::map<std::string, std::string> readMany(const std::vector<std::string>& names) override;
    std::string write(const std::string& name, std::string_view bytes,
                      const std::optional<std::string>& ifVersion) override;
    void remove(const std::string& name, const std::string& ifVersion) override;
    void flush() override;
    const char* sideName() const override { return "en el servidor"; }

    void resume(const std::string& cursor,
                const std::map<std::string, std::string>& items) override;
    std::string cursor() const override;
    void unread(const std::string& name) override { again_.insert(name); }

    // Told after each batch of cards read and each card sent.
    void setProgress(ProgressReport progress) { progress_ = std::move(progress); }

    // The cards of the last listing the server would not hand out: name ->
    // why, for a person.
    const std::map<std::string, QString>& withheld() const { return withheld_; }

  private:
    // A card's ETag and the content version it stood for when it was known.
    struct Known {
        std::string version;  // "~..."
        std::string etag;
    };

    QUrl urlOf(const std::string& name) const;
    QString hrefOf(const std::string& name) const;
    QString plainHref(const std::string& name) const;
    // The item's name for an href of the collection, or "" for the
    // collection itself or an href outside it.
    std::string nameOf(const QString& href) const;
    bool isCollection(const QString& href) const;
    // The sync-collection from token_ applied onto kept (the state's
    // versions) and fresh (ETags listed now); false when the server will not
    // list from that token.
    bool syncCollection(std::map<std::string, std::string>& kept,
                        std::map<std::string, std::string>& fresh);
    void stillThere(std::map<std::string, std::string>& kept,
                    std::map<std::string, std::string>& fresh);
    bool ctagUnchanged();
    std::map<std::string, std::string> propfindAll();
    // The multiget of names: bytes and strong ETags of the cards handed out;
    // the others in withheld_. told: progress_ hears of it.
    void multigetBatch(const std::vector<std::string>& batch,
                       std::map<std::string, std::string>& bytes,
                       std::map<std::string, std::string>* etags);
    void multiget(const std::vector<std::string>& names, std::map<std::string, std::string>& bytes,
                  std::map<std::string, std::string>* etags, bool told = true);
    // Sends writes, told to progress_ as the sent ones after the first
    // (sent before) of total.
    void send(std::vector<DavWrite>& writes, const QList<int>& answers, size_t before,
              size_t total);
    void settle(const std::set<std::string>& written, const std::set<std::string>& deleted);
    std::string versionOf(const std::string& name, const std::string& etag,
                          const std::string* bytes);
    void remember(const DavResource& r, const std::string& name);
    std::optional<QByteArray> precondition(const std::string& name, const std::string& version);

    DavClient& client_;
    QUrl collection_;
    std::string token_, ctag_;
    std::map<std::string, std::string> known_;    // the state's versions
    std::map<std::string, Known> etags_;          // cards known by content, with their ETags
    std::map<std::string, QString> hrefs_;        // as the server wrote them
    std::map<std::string, std::string> fetched_;  // read while listing
    std::map<std::string, std::string> unsent_;   // written without an ETag: content version
    std::map<std::string, QString> withheld_;
    std::set<std::string> mentioned_;    // by the last changes listed
    std::set<std::string> wroteBefore_;  // written by the last sync, after its token
    std::set<std::string> wrote_;        // written by this one
    std::set<std::string> againBefore_;  // not read whole by the last sync
    std::set<std::string> again_;        // not read whole by this one
    // What write() and remove() queued, for flush().
    struct Queued {
        std::string name, version;
        bool existed = false;
    };
    std::vector<DavWrite> puts_, deletes_;
    std::vector<Queued> queued_;
    ProgressReport progress_;
};

}  // namespace contavio
