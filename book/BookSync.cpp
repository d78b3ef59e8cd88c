#include "book/BookSync.h"

#include <QFileInfo>
#include <memory>

#include "book/ContactProto.h"

namespace contavio {

namespace {

// A contact as the book holds it once stored: stored in a set of its own and
// read back, so that the sync keys it exactly as the book will ("n/a" for an
// empty name, blanks kept).
class StoredForm {
  public:
    explicit StoredForm(ListOrder order) : order_(order) {
        sets_.newSet(kContactSlot, kContactBuckets, kContactTag, kContactSetName, kKeyField);
        sets_.setSetProto(kContactSlot, contactProto());
    }
    ContactData operator()(const ContactData& contact) {
        const std::string key = storeContact(sets_, kContactSlot, contact, order_);
        ContactData stored;
        readContact(sets_, kContactSlot, key, stored, order_);
        sets_.delObj(kContactSlot, key);
        return stored;
    }

  private:
    TConjuntos sets_{1};
    ListOrder order_;
};

}  // namespace

BookContacts bookContacts(TConjuntos& sets, ListOrder order) {
    BookContacts book;
    for (const std::string& key : bookKeys(sets, kContactSlot)) {
        ContactData contact;
        if (readContact(sets, kContactSlot, key, contact, order))
            book.emplace(key, std::move(contact));
    }
    return book;
}

std::function<ContactData(const ContactData&)> storedForm(ListOrder order) {
    auto stored = std::make_shared<StoredForm>(order);
    return [stored](const ContactData& c) { return (*stored)(c); };
}

void applyBookChanges(TConjuntos& sets, const BookChanges& changes, ListOrder order) {
    for (const std::string& key : changes.remove) sets.delObj(kContactSlot, key);
    for (const ContactData& contact : changes.put) storeContact(sets, kContactSlot, contact, order);
}

QString withCounts(const QString& format, const SyncReport& report) {
    return format.arg(report.folderAdded)
        .arg(report.folderChanged)
        .arg(report.folderRemoved)
        .arg(report.bookAdded)
        .arg(report.bookChanged)
        .arg(report.bookRemoved)
        .arg(report.conflicts);
}

std::string bookFolderOf(const std::string& dataFile) {
    return QFileInfo(QString::fromStdString(dataFile)).absolutePath().toStdString();
}

}  // namespace contavio
