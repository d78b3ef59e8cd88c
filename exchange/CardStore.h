// A place that holds vCards, as the sync sees it: named items, each with a
// version tag that changes whenever the item's bytes change. The folder of
// vCards (FolderStore) is one; a CardDAV collection, with hrefs and ETags, is
// another of the same shape. Every write and delete names the version it
// expects, so that an item changed by someone else meanwhile is never
// overwritten or removed unseen.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace contavio {

// An item changed, appeared or went since it was listed.
class StoreChanged : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct StoreListing {
    std::map<std::string, std::string> items;  // name -> version tag
    std::vector<std::string> skipped;          // entries that are no card item, by name
};

class CardStore {
  public:
    virtual ~CardStore() = default;

    // Every card item. Throws std::runtime_error when the store cannot be
    // read at all.
    virtual StoreListing list() = 0;

    // The bytes of a listed item.
    virtual std::string read(const std::string& name) = 0;

    // The bytes of several listed items, by name; a store that can fetch
    // many in one exchange (a CardDAV addressbook-multiget) does. Throws
    // StoreChanged when one of them went since the listing.
    virtual std::map<std::string, std::string> readMany(const std::vector<std::string>& names) {
        std::map<std::string, std::string> bytes;
        for (const std::string& name : names) bytes.emplace(name, read(name));
        return bytes;
    }

    // Before list(): the cursor that the last sync kept, and the items with
    // their versions as they were then. A store that can list only what
    // changed since a cursor (a CardDAV sync-token) lists from them.
    virtual void resume(const std::string& cursor,
                        const std::map<std::string, std::string>& items) {
        (void)cursor;
        (void)items;
    }

    // After list(): the cursor to keep for the next sync, or "".
    virtual std::string cursor() const { return {}; }

    // A listed item this sync could not read whole (withheld, cut short):
    // the next sync must look at it again even if nothing says it changed.
    virtual void unread(const std::string& name) { (void)name; }

    // Writes the item and returns its new version. ifVersion: the version it
    // must still have; none: it must not exist yet. Throws StoreChanged when
    // it does not hold, std::runtime_error on other failures.
    virtual std::string write(const std::string& name, std::string_view bytes,
                              const std::optional<std::string>& ifVersion) = 0;

    // Deletes the item if it still has version ifVersion (StoreChanged if
    // not); an item already gone is no failure.
    virtual void remove(const std::string& name, const std::string& ifVersion) = 0;

    // Makes the writes and deletes so far durable.
    virtual void flush() = 0;

    // Where the cards are, for the user: "la carpeta", "el servidor".
    virtual const char* sideName() const = 0;
};

}  // namespace contavio
