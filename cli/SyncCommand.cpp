#include "SyncCommand.h"

#include <QFileInfo>

#include "Output.h"
#include "book/ContactBook.h"
#include "book/ContactProto.h"
#include "exchange/VdirSync.h"

namespace contavio::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;
constexpr ListOrder kShown = ListOrder::TailFirst;  // as the other commands hold the book

QString utf8(const char* text) { return QString::fromUtf8(text); }

int badUsage(const QString& why) {
    tell(QStringLiteral("contavio-book sync: %1").arg(why));
    tell(utf8(usageOf("sync")));
    return kBadUsage;
}

// A contact as the book holds it once stored: stored in a set of its own and
// read back, so that the sync keys it exactly as the book will ("n/a" for an
// empty name, blanks kept).
class StoredForm {
  public:
    StoredForm() {
        sets_.newSet(kContactSlot, kContactBuckets, kContactTag, kContactSetName, kKeyField);
        sets_.setSetProto(kContactSlot, contactProto());
    }
    ContactData operator()(const ContactData& contact) {
        const std::string key = storeContact(sets_, kContactSlot, contact, kShown);
        ContactData stored;
        readContact(sets_, kContactSlot, key, stored, kShown);
        sets_.delObj(kContactSlot, key);
        return stored;
    }

  private:
    TConjuntos sets_{1};
};

void tellDeletions(const SyncReport& report) {
    for (const std::string& action : report.actions) {
        if (action.find("se borra") != std::string::npos) tellBook("  " + action);
    }
}

QString summary(const SyncReport& report) {
    return utf8(
               "carpeta: %1 nuevas, %2 cambiadas, %3 borradas; agenda: %4 nuevos, %5 "
               "cambiados, %6 borrados; conflictos: %7")
        .arg(report.folderAdded)
        .arg(report.folderChanged)
        .arg(report.folderRemoved)
        .arg(report.bookAdded)
        .arg(report.bookChanged)
        .arg(report.bookRemoved)
        .arg(report.conflicts);
}

}  // namespace

int runSync(const BookPlace& place, const Arguments& args, const OpenForWriting& open,
            const SaveBook& save) {
    SyncOptions options;
    std::string folder;
    for (const std::string& arg : args) {
        if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--force-delete") {
            options.forceDelete = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return badUsage(utf8("opción desconocida: %1").arg(QString::fromStdString(arg)));
        } else if (folder.empty()) {
            folder = arg;
        } else {
            return badUsage(utf8("sobra «%1»").arg(QString::fromLocal8Bit(arg)));
        }
    }
    if (folder.empty()) return badUsage(utf8("hace falta la CARPETA"));
    if (!QFileInfo(QString::fromLocal8Bit(folder)).isDir()) {
        tell(utf8("%1 no es una carpeta.").arg(QString::fromLocal8Bit(folder)));
        return kFailed;
    }
    BookFiles files(place.folder, place.dataName);
    const auto noBook = [&] {
        tell(utf8("No hay agenda: no existe %1. La sincronización no empieza una agenda nueva: "
                  "indique la agenda con --book RUTA, o cree una con import.")
                 .arg(QString::fromStdString(files.dataFile())));
        return kFailed;
    };
    if (!files.exists()) return noBook();
    const auto sets = open(files);
    if (!sets) return kFailed;
    if (!files.exists()) return noBook();

    BookContacts book;
    for (const std::string& key : bookKeys(*sets, kContactSlot)) {
        ContactData contact;
        if (readContact(*sets, kContactSlot, key, contact, kShown))
            book.emplace(key, std::move(contact));
    }
    auto stored = std::make_shared<StoredForm>();
    options.stored = [stored](const ContactData& c) { return (*stored)(c); };
    const std::string bookFolder =
        QFileInfo(QString::fromStdString(files.dataFile())).absolutePath().toStdString();
    VdirSync sync(folder, bookFolder, options);
    SyncReport report;
    try {
        const BookChanges changes = sync.run(book, report);
        if (report.refused) {
            for (const std::string& note : report.notes) tellBook(note);
            tell(
                utf8("La sincronización se detuvo sin cambiar nada: un lado está vacío, o "
                     "borraría más de la mitad de un lado. Borraría:"));
            tellDeletions(report);
            tell(utf8("Si es lo que quiere, repita con --force-delete (lo borrado se guarda en "
                      "%1); --dry-run muestra todo lo que haría.")
                     .arg(QString::fromStdString(syncPlaces(bookFolder, folder).kept)));
            return kFailed;
        }
        if (options.dryRun) {
            for (const std::string& note : report.notes) tellBook(note);
            for (const std::string& action : report.actions) printBookLine(action);
            printLine(utf8("simulación, no se cambió nada; ") + summary(report));
            return kDone;
        }
        if (!changes.empty()) {
            for (const std::string& key : changes.remove) sets->delObj(kContactSlot, key);
            for (const ContactData& contact : changes.put)
                storeContact(*sets, kContactSlot, contact, kShown);
            if (!save(files, *sets)) return kFailed;
        }
        sync.commit();
    } catch (const std::exception& error) {
        tellBook(error.what());
        return kFailed;
    }
    for (const std::string& note : report.notes) tellBook(note);
    if (!report.keptIn.empty()) {
        tell(utf8("Copia de lo borrado o cambiado: %1").arg(QString::fromStdString(report.keptIn)));
    }
    printLine(summary(report));
    return kDone;
}

}  // namespace contavio::cli
