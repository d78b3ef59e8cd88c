#include "RestoreCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Output.h"
#include "book/ContactBook.h"
#include "book/ContactProto.h"
#include "book/VCardFiles.h"
#include "exchange/VCardText.h"

namespace contavio::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// As the other commands that write: lists in the order of the book's file.
constexpr ListOrder kShown = ListOrder::TailFirst;

QString utf8(const char* text) { return QString::fromUtf8(text); }

// The names of the kept folder's parts, as the sync writes them.
constexpr char kKeptContacts[] = "agenda.vcf";
constexpr char kKeptCards[] = "tarjetas";

struct KeptCard {
    QString name;
    std::string bytes;
};

// Every regular file of the kept cards' folder, read; throws naming the file.
std::vector<KeptCard> readKeptCards(const QDir& folder) {
    std::vector<KeptCard> cards;
    for (const QFileInfo& info :
         folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            throw std::runtime_error(utf8("No se pudo leer %1: %2")
                                         .arg(info.filePath(), file.errorString())
                                         .toStdString());
        }
        const QByteArray bytes = file.readAll();
        cards.push_back({info.fileName(), bytes.toStdString()});
    }
    return cards;
}

// The key a contact is stored under: an empty name is "n/a", as "Agregar"
// stores it.
std::string keyOf(const ContactData& contact) {
    const auto stored = [](const std::string& name) {
        return name.empty() ? std::string(kEmptyText) : name;
    };
    return contactKey(stored(contact.firstNames), stored(contact.surnames));
}

// The stored contacts whose names have blanks at their ends (as typed in the
// window), by the key of their names without them: the kept copy of such a
// contact was written without them, and replaces it.
std::unordered_map<std::string, std::string> keysWithBlanks(TConjuntos& sets) {
    std::unordered_map<std::string, std::string> keys;
    for (const std::string& key : bookKeys(sets, kContactSlot)) {
        ContactData contact;
        if (!readContact(sets, kContactSlot, key, contact)) continue;
        ContactData trimmed;
        trimmed.firstNames = std::string(trimBlanks(contact.firstNames));
        trimmed.surnames = std::string(trimBlanks(contact.surnames));
        if (trimmed.firstNames != contact.firstNames || trimmed.surnames != contact.surnames) {
            keys[keyOf(trimmed)] = key;
        }
    }
    return keys;
}

}  // namespace

int runRestore(const BookPlace& place, const Arguments& args, const OpenForWriting& open,
               const SaveBook& save) {
    if (args.empty() || args.size() > 2 || args[0].starts_with('-')) {
        tell(utf8("contavio-book restore: hace falta la CARPETA guardada"));
        tell(utf8(usageOf("restore")));
        return kBadUsage;
    }
    const QString kept = QString::fromLocal8Bit(args[0]);
    const QDir keptFolder(kept);
    const QString contactsFile = keptFolder.filePath(QString::fromLatin1(kKeptContacts));
    const QDir cardsFolder(keptFolder.filePath(QString::fromLatin1(kKeptCards)));
    const bool keptContacts = QFileInfo(contactsFile).isFile();
    if (!keptContacts && !cardsFolder.exists()) {
        tell(utf8("%1 no es una carpeta de copias de una sincronización: no tiene %2 ni %3/.")
                 .arg(kept, QString::fromLatin1(kKeptContacts), QString::fromLatin1(kKeptCards)));
        return kFailed;
    }
    const QString target = args.size() == 2 ? QString::fromLocal8Bit(args[1]) : QString();
    if (!target.isEmpty() && !QFileInfo(target).isDir()) {
        tell(utf8("%1 no es una carpeta.").arg(target));
        return kFailed;
    }

    // Everything is read before anything is written.
    std::vector<CardImport> contacts;
    std::vector<KeptCard> cards;
    try {
        if (keptContacts) contacts = readVCardFiles({contactsFile});
        cards = readKeptCards(cardsFolder);
    } catch (const std::exception& error) {
        tellBook(error.what());
        return kFailed;
    }

    int restored = 0;
    int damaged = 0;
    if (!contacts.empty()) {
        BookFiles files(place.folder, place.dataName);
        const bool newBook = !files.exists();
        const auto sets = open(files);
        if (!sets) return kFailed;
        std::vector<std::string> names;
        std::optional<std::unordered_map<std::string, std::string>> withBlanks;
        for (const CardImport& card : contacts) {
            if (!card.damage.empty()) {
                tellBook(
                    "da\xF1"
                    "ada: " +
                    card.damage);
                ++damaged;
                continue;
            }
            // The kept contact as it was, whatever the book holds under its names.
            const std::string key = keyOf(card.contact);
            ContactData stored;
            if (!readContact(*sets, kContactSlot, key, stored)) {
                if (!withBlanks) withBlanks = keysWithBlanks(*sets);
                if (const auto found = withBlanks->find(key); found != withBlanks->end()) {
                    sets->delObj(kContactSlot, found->second);
                    withBlanks->erase(found);
                }
            }
            storeContact(*sets, kContactSlot, card.contact, kShown);
            names.push_back(card.contact.firstNames + " " + card.contact.surnames);
            ++restored;
        }
        if (restored > 0) {
            if (!save(files, *sets)) return kFailed;
            if (newBook) {
                tell(utf8("agenda nueva: %1").arg(QString::fromStdString(files.dataFile())));
            }
        }
        for (const std::string& name : names) tellBook("restaurado: " + name);
    }

    int copied = 0;
    if (!target.isEmpty()) {
        for (const KeptCard& card : cards) {
            try {
                writeFileAtomically(QDir(target).filePath(card.name), card.bytes);
            } catch (const std::exception& error) {
                tellBook(error.what());
                return kFailed;
            }
            ++copied;
        }
    } else if (!cards.empty()) {
        tell(utf8("Las tarjetas guardadas (%1) no se copian: indique la carpeta sincronizada, "
                  "contavio-book restore %2 CARPETA.")
                 .arg(cards.size())
                 .arg(kept));
    }
    printLine(
        utf8("contactos restaurados: %1, tarjetas restauradas: %2").arg(restored).arg(copied));
    return damaged == 0 ? kDone : kFailed;
}

}  // namespace contavio::cli
