#include "Commands.h"

#include <QFileInfo>
#include <cstdio>
#include <map>
#include <memory>

#include "Output.h"
#include "RestoreCommand.h"
#include "SyncCommand.h"
#include "book/Ansi.h"
#include "book/BookFiles.h"
#include "book/ContactBook.h"
#include "book/ContactProto.h"
#include "book/VCardFiles.h"
#include "engine/UhashElem.h"
#include "engine/basicOps.h"

namespace contavio::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// Every book is turned back into the order of its file once read, so the
// window shows each list tail first at its next start.
constexpr ListOrder kShown = ListOrder::TailFirst;

QString utf8(const char* text) { return QString::fromUtf8(text); }

int badUsage(const std::string& command, const QString& why) {
    tell(QStringLiteral("contavio-book %1: %2").arg(QString::fromStdString(command), why));
    tell(utf8(usageOf(command)));
    return kBadUsage;
}

// Who has the book open, for "la agenda está abierta en ...".
QString openedBy(const BookFiles::User& user) {
    const QString process = utf8("proceso %1").arg(user.pid);
    switch (user.kind) {
        case BookFiles::User::Kind::Window:
            return utf8("la ventana de Contavio");
        case BookFiles::User::Kind::CommandLine:
            return utf8("otro contavio-book (%1)").arg(process);
        case BookFiles::User::Kind::Other:
            return user.program.isEmpty()
                       ? utf8("otro programa (%1)").arg(process)
                       : utf8("otro programa (%1, %2)").arg(user.program, process);
        case BookFiles::User::Kind::None:
            break;
    }
    return utf8("otro programa");
}

// A book opened for reading: its set in slot 0, the file read, and why it
// was not read in full (empty when it was).
struct OpenBook {
    std::unique_ptr<TConjuntos> sets = std::make_unique<TConjuntos>(1);
    std::string source;
    QString damage;
};

// Reads the book without changing a file or taking its lock; null (said)
// when there is none. A program that has the book open may hold changes
// that are not in the file yet: that is said too.
std::unique_ptr<OpenBook> readBook(const BookPlace& place) {
    BookFiles files(place.folder, place.dataName);
    if (!files.exists()) {
        tell(utf8("No hay agenda: no existe %1.").arg(QString::fromStdString(files.dataFile())));
        return nullptr;
    }
    if (const BookFiles::User user = files.user(); user.kind != BookFiles::User::Kind::None) {
        tell(utf8("Aviso: la agenda está abierta en %1: los cambios sin guardar no se ven.")
                 .arg(openedBy(user)));
    }
    auto book = std::make_unique<OpenBook>();
    book->source = files.sourceFile();
    book->damage = files.inspect(*book->sets, kContactSlot);
    reverseAllLists(*book->sets, kContactSlot);  // back in the file's order
    if (book->sets->isEmpty(kContactSlot)) {
        book->sets->newSet(kContactSlot, kContactBuckets, kContactTag, kContactSetName, kKeyField);
        book->sets->setSetProto(kContactSlot, contactProto());
    }
    return book;
}

// Why an export may not write `target`, which is one of the book's files or
// another book; empty when it may.
QString bookFileWhy(const BookPlace& place, const std::string& target) {
    switch (BookFiles(place.folder, place.dataName).kindOf(target)) {
        case BookFiles::Kind::Book:
            return utf8("es la agenda");
        case BookFiles::Kind::Legacy:
            return utf8(
                "es el archivo de texto de la agenda (contact.txt), que se lee en lugar "
                "de data.vlt");
        case BookFiles::Kind::SyncState:
            return utf8("es el estado de una sincronización de la agenda");
        case BookFiles::Kind::OtherBook:
            return utf8("es una agenda de Contavio (una copia guardada aparte, u otra agenda)");
        case BookFiles::Kind::None:
            break;
    }
    return QString();
}

int32_t contactCount(TConjuntos& sets) { return countHashE(sets.sets[kContactSlot]); }

// The search of the window's "Buscar" for text as typed.
void searchLikeTheWindow(TConjuntos& sets, const QString& text) {
    const iVector fields = {kFirstNamesField, kSurnamesField, kAddressField};
    sets.search(kContactSlot, toAnsi(text), outsideAnsi(text).isEmpty() ? fields : iVector{},
                fields);
}

}  // namespace

const char* usageOf(const std::string& command) {
    if (command == "export") {
        return "uso: contavio-book [--book RUTA] export ARCHIVO.vcf [--vcard 3.0|4.0]\n"
               "Escribe todos los contactos en ARCHIVO.vcf (\"-\": la salida estándar),\n"
               "en vCard 4.0, o 3.0 para teléfonos antiguos.";
    }
    if (command == "import") {
        return "uso: contavio-book [--book RUTA] import [--replace] ARCHIVO.vcf...\n"
               "Agrega los contactos de los archivos; un contacto que ya está (mismos nombres\n"
               "y apellidos) se combina: se completan los campos vacíos y se agregan los\n"
               "teléfonos y e-mails nuevos. Con --replace, un campo distinto toma el valor\n"
               "del archivo en lugar de conservar el guardado.";
    }
    if (command == "list") {
        return "uso: contavio-book [--book RUTA] list [TEXTO]\n"
               "Lista los contactos que contienen TEXTO en nombres, apellidos o dirección,\n"
               "como \"Buscar\" en la ventana; sin TEXTO, todos.";
    }
    if (command == "query") {
        return "uso: contavio-book [--book RUTA] query TEXTO\n"
               "Una línea \"e-mail<TAB>nombre<TAB>\" por e-mail de cada contacto que contiene\n"
               "TEXTO en nombres, apellidos, dirección o e-mail, tras una primera línea de\n"
               "texto (el formato de query_command de mutt).";
    }
    if (command == "delete") {
        return "uso: contavio-book [--book RUTA] delete NOMBRES APELLIDOS\n"
               "Elimina el contacto con esos nombres y apellidos, como \"Eliminar\" en la ventana.";
    }
    if (command == "sync") {
        return "uso: contavio-book [--book RUTA] sync [--dry-run] [--force-delete] CARPETA\n"
               "     contavio-book [--book RUTA] sync [--dry-run] [--force-delete] URL\n"
               "         [--user NOMBRE] [--password-stdin] [--address-book NOMBRE]\n"
               "         [--trust-certificate SHA256] [--allow-http]\n"
               "         [--send-password-to ORIGEN]\n"
               "Sincroniza la agenda con CARPETA, una carpeta de vCards (un .vcf por contacto)\n"
               "que vdirsyncer mantiene al día con un servidor CardDAV, o directamente con el\n"
               "servidor CardDAV de URL (http:// o https://: la libreta, el usuario o solo el\n"
               "servidor). Lo cambiado de un lado pasa al otro, campo por campo; un campo\n"
               "cambiado en los dos lados conserva el de la agenda y el otro se añade a las\n"
               "notas. Si un lado está vacío o lo sustituyen tarjetas que nunca se\n"
               "sincronizaron, si perdería la mitad de lo que tenía o más desde la última\n"
               "confirmación, o si la agenda se sincronizó antes con otra libreta del\n"
               "servidor, no cambia nada salvo con --force-delete, que lo confirma.\n"
               "--dry-run muestra lo que haría sin cambiar nada. Lo borrado o cambiado se\n"
               "guarda antes en contavio-sync-kept, junto a la agenda.\n"
               "La contraseña se lee de la entrada con --password-stdin; si no, del almacén de\n"
               "contraseñas del escritorio; si no, se pide en la terminal. Nunca de un archivo\n"
               "ni de la línea de órdenes. Con varias libretas, --address-book elige una.\n"
               "--trust-certificate acepta ese certificado (por su huella SHA-256) para ese\n"
               "servidor y lo recuerda. --allow-http envía la contraseña sin cifrar a otra\n"
               "máquina. La contraseña va solo al servidor de URL y, por https://, a los de su\n"
               "mismo dominio; --send-password-to https://SERVIDOR:PUERTO la envía también a\n"
               "ese otro, al que el servidor remite, y lo recuerda para la cuenta.";
    }
    if (command == "restore") {
        return "uso: contavio-book [--book RUTA] restore CARPETA_GUARDADA [CARPETA]\n"
               "Deshace lo que cambió una sincronización con las copias que guardó antes, en\n"
               "contavio-sync-kept/AAAAMMDD-HHMMSS junto a la agenda: cada contacto de su\n"
               "agenda.vcf vuelve a la agenda tal como estaba (reemplaza al contacto con sus\n"
               "nombres, o vuelve si se había borrado), y con CARPETA, la carpeta\n"
               "sincronizada, cada tarjeta de tarjetas/ vuelve a ella con su nombre de archivo.";
    }
    if (command == "check") {
        return "uso: contavio-book [--book RUTA] check\n"
               "Lee la agenda y dice cuántos contactos tiene y si está dañada. No cambia nada.";
    }
    if (command.empty()) {
        return "uso: contavio-book [--book RUTA] ORDEN [ARGUMENTOS]\n"
               "\n"
               "La agenda de Contavio desde la línea de órdenes.\n"
               "\n"
               "Órdenes:\n"
               "  export ARCHIVO.vcf [--vcard 3.0]  exporta los contactos en vCard\n"
               "  import [--replace] ARCHIVO.vcf... importa contactos de archivos vCard\n"
               "  list [TEXTO]                      lista los contactos, como \"Buscar\"\n"
               "  query TEXTO                       e-mails para mutt (query_command)\n"
               "  check                             lee la agenda y dice si está sana\n"
               "  delete NOMBRES APELLIDOS          elimina un contacto\n"
               "  sync [--dry-run] CARPETA          sincroniza con una carpeta de vCards\n"
               "  sync URL [--user NOMBRE]          sincroniza con un servidor CardDAV\n"
               "  restore CARPETA_GUARDADA [CARPETA] deshace una sincronización con sus copias\n"
               "\n"
               "Opciones:\n"
               "  --book RUTA   la agenda: un archivo como data.vlt, o la carpeta que lo tiene\n"
               "                (sin --book: data.vlt en la carpeta actual)\n"
               "  --help        esta ayuda; ORDEN --help: la ayuda de la orden\n"
               "  --version     la versión\n"
               "\n"
               "Las órdenes que escriben (import, delete, sync, restore) no lo hacen mientras\n"
               "otro programa (la ventana de Contavio, otro contavio-book) tiene la agenda\n"
               "abierta; las que leen avisan de que no ven lo que ese programa no ha guardado.\n"
               "Estado de salida: 0 hecho (también una búsqueda sin resultados), 1 falló,\n"
               "2 uso incorrecto.";
    }
    return nullptr;
}

int checkCommand(const BookPlace& place, const Arguments& args) {
    if (!args.empty())
        return badUsage("check", utf8("sobra «%1»").arg(QString::fromStdString(args[0])));
    const auto book = readBook(place);
    if (!book) return kFailed;
    const QString name = QString::fromStdString(book->source);
    const int32_t count = contactCount(*book->sets);
    if (book->damage.isEmpty()) {
        printLine(utf8("%1: %2 contactos; se leyó completa.").arg(name).arg(count));
        return kDone;
    }
    printLine(utf8("%1: dañada; se leyeron %2 contactos antes del error:\n%3")
                  .arg(name)
                  .arg(count)
                  .arg(book->damage));
    return kFailed;
}

int listCommand(const BookPlace& place, const Arguments& args) {
    if (args.size() > 1)
        return badUsage("list", utf8("sobra «%1»").arg(QString::fromStdString(args[1])));
    const auto book = readBook(place);
    if (!book) return kFailed;
    if (!book->damage.isEmpty()) tell(utf8("Aviso: la agenda está dañada: ") + book->damage);
    searchLikeTheWindow(*book->sets, args.empty() ? QString() : QString::fromLocal8Bit(args[0]));
    VectorLineList lines;
    std::optional<sVector> texts;
    std::optional<sVector> keys;
    book->sets->listResults(kContactSlot, lines, texts, keys);
    if (!keys) {
        // Nothing found is an answer, not a failure: the store's line goes to
        // standard error and standard output stays empty.
        tellBook(lines.lines.empty() ? std::string() : lines.lines.front());
        return kDone;
    }
    for (const std::string& line : lines.lines) printBookLine(line);
    return kDone;
}

int queryCommand(const BookPlace& place, const Arguments& args) {
    if (args.size() != 1) return badUsage("query", utf8("hace falta un TEXTO"));
    const auto book = readBook(place);
    if (!book) return kFailed;
    const QString typed = QString::fromLocal8Bit(args[0]);
    const std::string text = toAnsi(typed);
    const bool findable = outsideAnsi(typed).isEmpty();
    std::vector<std::pair<std::string, std::string>> found;  // e-mail, name
    for (const std::string& key : bookKeys(*book->sets, kContactSlot)) {
        ContactData contact;
        if (!findable || !readContact(*book->sets, kContactSlot, key, contact, kShown)) continue;
        const bool inContact = containsText(contact.firstNames, text) ||
                               containsText(contact.surnames, text) ||
                               containsText(contact.address, text);
        for (const std::string& email : contact.emails) {
            if (isEmptyText(email)) continue;
            if (inContact || containsText(email, text)) {
                found.emplace_back(email, contact.firstNames + " " + contact.surnames);
            }
        }
    }
    if (found.empty()) {
        printLine(utf8("Contavio: ningún e-mail contiene «%1»").arg(typed));
        return kFailed;
    }
    printLine(utf8("Contavio: %1 e-mails").arg(found.size()));
    for (const auto& [email, name] : found) printBookLine(email + "\t" + name + "\t");
    return kDone;
}

int exportCommand(const BookPlace& place, const Arguments& args) {
    std::string target;
    VCardVersion version = VCardVersion::V40;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--vcard") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            if (value == "3.0") {
                version = VCardVersion::V30;
            } else if (value != "4.0") {
                return badUsage("export", utf8("--vcard necesita 3.0 o 4.0"));
            }
        } else if (target.empty()) {
            target = args[i];
        } else {
            return badUsage("export", utf8("sobra «%1»").arg(QString::fromStdString(args[i])));
        }
    }
    if (target.empty()) return badUsage("export", utf8("hace falta el ARCHIVO.vcf"));
    if (target != "-") {
        if (const QString why = bookFileWhy(place, target); !why.isEmpty()) {
            tell(utf8("No se exporta a %1: %2; el vCard lo reemplazaría. Elija otro archivo "
                      "(por ejemplo, contactos.vcf).")
                     .arg(QString::fromLocal8Bit(target), why));
            return kFailed;
        }
    }
    const auto book = readBook(place);
    if (!book) return kFailed;
    if (!book->damage.isEmpty()) {
        tell(utf8("Aviso: la agenda está dañada; se exportan los contactos que se leyeron: ") +
             book->damage);
    }
    const BookExport out = exportBook(*book->sets, kContactSlot, version, kShown);
    for (const std::string& warning : out.warnings) tellBook(warning);
    if (target == "-") {
        std::fwrite(out.text.data(), 1, out.text.size(), stdout);
    } else {
        try {
            writeFileAtomically(QString::fromLocal8Bit(target), out.text);
        } catch (const std::exception& error) {
            tellBook(error.what());
            return kFailed;
        }
        tell(utf8("%1 contactos exportados a %2")
                 .arg(out.count)
                 .arg(QString::fromLocal8Bit(target)));
    }
    return book->damage.isEmpty() ? kDone : kFailed;
}

namespace {

// The book opened for a change: locked, read in full (a damaged book is not
// written), under one name (a hard link would split it at the save), with its
// lists in the order of its file. Null when refused (said).
std::unique_ptr<TConjuntos> openForWriting(BookFiles& files) {
    if (files.lock() == BookLock::State::Busy) {
        const BookFiles::User user = files.user();
        tell(utf8("La agenda está abierta en %1: %2")
                 .arg(openedBy(user), user.kind == BookFiles::User::Kind::Window
                                          ? utf8("ciérrela y vuelva a intentarlo.")
                                          : utf8("vuelva a intentarlo cuando termine.")));
        return nullptr;
    }
    if (const QString linked = files.secondName(); !linked.isEmpty()) {
        tell(linked);
        return nullptr;
    }
    auto sets = std::make_unique<TConjuntos>(1);
    if (files.exists()) {
        const QString damage = files.inspect(*sets, kContactSlot);
        if (!damage.isEmpty()) {
            tell(utf8("La agenda está dañada y no se cambia: ") + damage +
                 utf8("\nÁbrala en Contavio, que guarda una copia del archivo y muestra lo que se "
                      "pudo leer."));
            return nullptr;
        }
        const QString told = files.keepUnread(*sets, kContactSlot);
        if (!told.isEmpty()) tell(told);
        reverseAllLists(*sets, kContactSlot);  // a save keeps the file's order
    }
    if (sets->isEmpty(kContactSlot)) {
        sets->newSet(kContactSlot, kContactBuckets, kContactTag, kContactSetName, kKeyField);
        sets->setSetProto(kContactSlot, contactProto());
    }
    return sets;
}

// Saves through the same atomic save as the window; false (said) on failure.
bool saveBook(BookFiles& files, TConjuntos& sets) {
    try {
        const QString saved = files.save(sets, kContactSlot);
        if (!saved.isEmpty()) tell(saved);
        return true;
    } catch (const std::exception& error) {
        tell(utf8("No se pudieron guardar los contactos en %1: %2")
                 .arg(QString::fromStdString(files.saveTarget()), fromErrorText(error.what())));
        return false;
    }
}

}  // namespace

int deleteCommand(const BookPlace& place, const Arguments& args) {
    if (args.size() != 2) return badUsage("delete", utf8("hacen falta NOMBRES y APELLIDOS"));
    const QString first = QString::fromLocal8Bit(args[0]);
    const QString last = QString::fromLocal8Bit(args[1]);
    BookFiles files(place.folder, place.dataName);
    const auto sets = openForWriting(files);
    if (!sets) return kFailed;
    // The key "Agregar" forms: an empty field is stored as "n/a".
    const auto stored = [](const QString& typed) {
        return typed.isEmpty() ? std::string(kEmptyText) : singleLine(toAnsi(typed));
    };
    const std::string key = contactKey(stored(first), stored(last));
    ContactData contact;
    if (!outsideAnsi(first + last).isEmpty() || !readContact(*sets, kContactSlot, key, contact)) {
        tell(utf8("No hay ningún contacto %1 %2.").arg(first, last));
        return kFailed;
    }
    sets->delObj(kContactSlot, key);
    if (!saveBook(files, *sets)) return kFailed;
    printLine(utf8("Contacto eliminado: %1 %2")
                  .arg(fromAnsi(contact.firstNames), fromAnsi(contact.surnames)));
    return kDone;
}

int syncCommand(const BookPlace& place, const Arguments& args) {
    return runSync(place, args, openForWriting, saveBook);
}

int restoreCommand(const BookPlace& place, const Arguments& args) {
    return runRestore(place, args, openForWriting, saveBook);
}

int importCommand(const BookPlace& place, const Arguments& args) {
    MergeRule rule = MergeRule::KeepStored;
    QStringList sources;
    for (const std::string& arg : args) {
        if (arg == "--replace") {
            rule = MergeRule::TakeIncoming;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return badUsage("import",
                            utf8("opción desconocida: %1").arg(QString::fromStdString(arg)));
        } else {
            sources.append(QString::fromLocal8Bit(arg));
        }
    }
    if (sources.empty()) return badUsage("import", utf8("hace falta al menos un ARCHIVO.vcf"));

    std::vector<CardImport> cards;
    try {
        cards = readVCardFiles(sources);  // every file before the book is touched
    } catch (const std::exception& error) {
        tellBook(error.what());
        return kFailed;
    }

    BookFiles files(place.folder, place.dataName);
    const bool newBook = !files.exists();
    const auto book = openForWriting(files);
    if (!book) return kFailed;
    TConjuntos& sets = *book;
    ImportReport report;
    {
        Progress progress("Importando", cards.size());
        constexpr size_t kBatch = 1000;
        for (size_t start = 0; start < cards.size(); start += kBatch) {
            const size_t end = std::min(cards.size(), start + kBatch);
            importCards(sets, kContactSlot,
                        std::span<const CardImport>(cards).subspan(start, end - start), rule,
                        report, kShown);
            progress.step(end);
        }
    }
    // An import that changes nothing writes nothing, and starts no book.
    if (report.added + report.merged > 0) {
        if (!saveBook(files, sets)) return kFailed;
        if (newBook) {
            tell(utf8("agenda nueva: %1").arg(QString::fromStdString(files.dataFile())));
        }
    }
    for (const std::string& line : importLines(report)) tellBook(line);
    printLine(importSummary(report));
    return report.damaged.empty() ? kDone : kFailed;
}

}  // namespace contavio::cli
