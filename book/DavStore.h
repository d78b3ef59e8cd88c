// An address book on a CardDAV server as a card store: an item's name is
// the last segment of its path in the collection, its version the ETag.
//
// list(): with a cursor (the sync-token of the last sync) one REPORT
// sync-collection brings what changed since, applied onto the items as they
// were; without one, or when the server refuses the token, a
// sync-collection from nothing, or, where the server offers none, PROPFIND
// Depth 1 for every ETag. readMany(): addressbook-multiget in batches of
// kMultigetBatch. write(): PUT with If-Match, or If-None-Match: * for a new
// item; remove(): DELETE with If-Match. 412 is StoreChanged.
#pragma once

#include <QUrl>
#include <map>

#include "book/DavClient.h"
#include "exchange/CardStore.h"

namespace contavio {

inline constexpr int kMultigetBatch = 200;

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
    void flush() override {}
    const char* sideName() const override { return "en el servidor"; }

    void resume(const std::string& cursor,
                const std::map<std::string, std::string>& items) override {
        cursor_ = cursor;
        known_ = items;
    }
    std::string cursor() const override { return cursor_; }

  private:
    QUrl urlOf(const std::string& name) const;
    // The item's name for an href of the collection, or "" for the
    // collection itself or an href outside it.
    std::string nameOf(const QString& href) const;
    bool listChanges(StoreListing& listing);
    StoreListing listAll();

    DavClient& client_;
    QUrl collection_;
    std::string cursor_;
    std::map<std::string, std::string> known_;
};

}  // namespace contavio
