#include "SyncCommand.h"

#include <unistd.h>

#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "Output.h"
#include "Password.h"
#include "book/Ansi.h"
#include "book/BookSync.h"
#include "book/DavClient.h"
#include "book/ServerAccount.h"
#include "book/ServerSync.h"
#include "book/Texts.h"
#include "exchange/VdirSync.h"

namespace contavio::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

QString utf8(const char* text) { return QString::fromUtf8(text); }

int badUsage(const QString& why) {
    tell(QStringLiteral("contavio-book sync: %1").arg(why));
    tell(utf8(usageOf("sync")));
    return kBadUsage;
}

// The account whose password the secret store keeps: the same key the
// window's account uses.
ServerAccount accountOf(const ServerTarget& target) {
    ServerAccount account;
    account.server = target.url;
    account.user = target.user;
    return account;
}

struct SyncArgs {
    SyncOptions options;
    std::string where;  // a folder, or a server's URL
    QString user, addressBook;
    QByteArray trust;
    QString sendPasswordTo;  // an origin the user lets the password go to
    bool passwordStdin = false, allowHttp = false, serverOnly = false;
};

// One sync, folder or server: run, then commit.
struct Syncer {
    std::function<BookChanges(const BookContacts&, SyncReport&)> run;
    std::function<void()> commit;
    QString side;  // "carpeta", "servidor"
};

void tellDeletions(const SyncReport& report) {
    for (const std::string& action : report.actions) {
        if (action.find("se borra") != std::string::npos) tellBook("  " + action);
    }
}

QString summary(const SyncReport& report, const QString& side) {
    return side + withCounts(utf8(": %1 nuevas, %2 cambiadas, %3 borradas; agenda: %4 nuevos, "
                                  "%5 cambiados, %6 borrados; conflictos: %7"),
                             report);
}

bool isServer(const std::string& where) {
    return where.rfind("http://", 0) == 0 || where.rfind("https://", 0) == 0;
}

// How far a server sync has come, "n de N" cards read or sent, on one line
// of standard error rewritten in place, when it is a terminal; cleared
// before anything else is said.
class ProgressLine {
  public:
    ProgressLine() : shown_(::isatty(2) == 1) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void show(const SyncProgress& progress) {
        // Each hundredth and the last, so that a slow terminal does not hold the sync back.
        const size_t percent = progress.done * 100 / std::max<size_t>(progress.total, 1);
        if (!shown_ || (percent == percent_ && progress.sending == sending_ &&
                        progress.done != progress.total)) {
            return;
        }
        percent_ = percent;
        sending_ = progress.sending;
        const QByteArray text =
            ui(progress.sending ? text::kDavProgressSent : text::kDavProgressRead)
                .arg(progress.done)
                .arg(progress.total)
                .toLocal8Bit();
        std::fprintf(stderr, "\r%s%*s", text.constData(), std::max(0, width_ - int(text.size())),
                     "");
        std::fflush(stderr);
        width_ = std::max(width_, int(text.size()));
    }
    void clear() {
        if (width_ == 0) return;
        std::fprintf(stderr, "\r%*s\r", width_, "");
        std::fflush(stderr);
        width_ = 0;
        percent_ = kNone;
    }

  private:
    static constexpr size_t kNone = size_t(-1);
    bool shown_;
    int width_ = 0;  // of the longest text on the line
    size_t percent_ = kNone;
    bool sending_ = false;
};

// The book's part of a sync, the same for a folder and a server.
int syncBook(BookFiles& files, TConjuntos& sets, const SaveBook& save, const SyncArgs& args,
             Syncer& syncer, const std::string& keptFolder) {
    SyncReport report;
    const BookChanges changes = syncer.run(bookContacts(sets), report);
    if (args.options.dryRun) {
        // What the sync would do, refused or not: the refusal is said last.
        for (const std::string& note : report.notes) tellBook(note);
        for (const std::string& action : report.actions) printBookLine(action);
        if (report.refused) {
            tell(utf8("Sin --force-delete, la sincronización se detendría sin cambiar nada (%1).")
                     .arg(report.otherPlace.empty()
                              ? utf8("borraría demasiado de un lado")
                              : utf8("esta agenda se sincronizó con otro lugar, %1")
                                    .arg(QString::fromLocal8Bit(report.otherPlace))));
        }
        printLine(utf8("simulación, no se cambió nada; ") + summary(report, syncer.side));
        return kDone;
    }
    if (report.refused && !report.otherPlace.empty()) {
        tell(utf8("La sincronización se detuvo sin cambiar nada: esta agenda se sincronizó con "
                  "otro lugar (%1), y sincronizarla con este mezclaría los dos; haría: %2")
                 .arg(QString::fromLocal8Bit(report.otherPlace), summary(report, syncer.side)));
        tell(
            utf8("Si es lo que quiere, repita con --force-delete; --dry-run muestra todo lo "
                 "que haría."));
        return kFailed;
    }
    if (report.refused) {
        for (const std::string& note : report.notes) tellBook(note);
        tell(
            utf8("La sincronización se detuvo sin cambiar nada: un lado está vacío o lo "
                 "sustituyen tarjetas o contactos que nunca se sincronizaron, o perdería la "
                 "mitad de lo que tenía o más (en esta sincronización o en las hechas desde la "
                 "última confirmación). Borraría:"));
        tellDeletions(report);
        tell(utf8("Si es lo que quiere, repita con --force-delete (lo borrado se guarda en "
                  "%1); --dry-run muestra todo lo que haría.")
                 .arg(QString::fromStdString(keptFolder)));
        return kFailed;
    }
    if (!changes.empty()) {
        applyBookChanges(sets, changes);
        if (!save(files, sets)) return kFailed;
    }
    syncer.commit();
    for (const std::string& note : report.notes) tellBook(note);
    if (!report.keptIn.empty()) {
        tell(utf8("Copia de lo borrado o cambiado: %1").arg(QString::fromStdString(report.keptIn)));
    }
    printLine(summary(report, syncer.side));
    return kDone;
}

std::optional<int> parse(const Arguments& args, SyncArgs& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* name) -> std::optional<QString> {
            if (arg != name) return std::nullopt;
            out.serverOnly = true;
            if (i + 1 >= args.size()) return QString();
            return QString::fromLocal8Bit(args[++i]);
        };
        if (arg == "--dry-run") {
            out.options.dryRun = true;
        } else if (arg == "--force-delete") {
            out.options.forceDelete = true;
        } else if (arg == "--password-stdin") {
            out.passwordStdin = out.serverOnly = true;
        } else if (arg == "--allow-http") {
            out.allowHttp = out.serverOnly = true;
        } else if (auto user = value("--user")) {
            if (user->isEmpty()) return badUsage(utf8("--user necesita un NOMBRE"));
            out.user = *user;
        } else if (auto book = value("--address-book")) {
            if (book->isEmpty()) return badUsage(utf8("--address-book necesita un NOMBRE"));
            out.addressBook = *book;
        } else if (auto trust = value("--trust-certificate")) {
            out.trust = normalizedFingerprint(trust->toLatin1());
            if (out.trust.isEmpty())
                return badUsage(
                    utf8("--trust-certificate necesita la huella SHA-256 (64 "
                         "cifras hexadecimales)"));
        } else if (auto origin = value("--send-password-to")) {
            const QUrl at(*origin);
            if (at.scheme() != QLatin1String("https") || at.host().isEmpty())
                return badUsage(utf8("--send-password-to necesita una dirección https://"));
            out.sendPasswordTo = originOf(at);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return badUsage(utf8("opción desconocida: %1").arg(QString::fromStdString(arg)));
        } else if (out.where.empty()) {
            out.where = arg;
        } else {
            return badUsage(utf8("sobra «%1»").arg(QString::fromLocal8Bit(arg)));
        }
    }
    if (out.where.empty()) return badUsage(utf8("hace falta la CARPETA o la URL del servidor"));
    if (out.serverOnly && !isServer(out.where))
        return badUsage(utf8("esas opciones son para un servidor (http:// o https://)"));
    return std::nullopt;
}

// The server, user and password; none when refused (said).
std::optional<ServerTarget> targetOf(const SyncArgs& args, const std::string& bookFolder) {
    ServerTarget target;
    target.url = QUrl(QString::fromLocal8Bit(args.where), QUrl::StrictMode);
    if (!target.url.isValid() || target.url.host().isEmpty()) {
        tell(utf8("«%1» no es una dirección válida.").arg(QString::fromLocal8Bit(args.where)));
        return std::nullopt;
    }
    if (!target.url.password().isEmpty()) {
        tell(
            utf8("La contraseña no va en la dirección (se vería en la lista de procesos): "
                 "use --password-stdin, o el almacén de contraseñas del escritorio."));
        return std::nullopt;
    }
    target.user = args.user.isEmpty() ? target.url.userName() : args.user;
    target.url.setUserInfo(QString());
    target.addressBook = args.addressBook;
    target.allowPlainHttp = args.allowHttp;
    const QString host = target.url.host();
    if (target.url.scheme() == QLatin1String("http") && !isThisMachine(host) && !args.allowHttp) {
        tell(utf8("%1 es http:// sin cifrar hacia otra máquina: la contraseña y los contactos "
                  "viajarían legibles por la red. Use https://; o, si lo acepta, repita con "
                  "--allow-http.")
                 .arg(target.url.toDisplayString()));
        return std::nullopt;
    }
    target.trustedSha256 =
        args.trust.isEmpty() ? readTrustedCertificate(bookFolder, target) : args.trust;
    if (target.user.isEmpty()) return target;  // a server without accounts
    if (!args.sendPasswordTo.isEmpty()) {
        const QString failure = confirmPasswordHost(target.url, target.user, args.sendPasswordTo);
        if (!failure.isEmpty()) {
            tell(failure);
            return std::nullopt;
        }
    }
    std::optional<QString> password;
    if (args.passwordStdin) {
        password = passwordFromStdin();
    } else if (const SecretResult kept = readPassword(accountOf(target));
               kept.status == SecretResult::Status::Ok) {
        password = kept.password;
    } else {
        password = passwordFromTerminal(utf8("Contraseña de «%1» en %2: ").arg(target.user, host));
    }
    if (!password) {
        tell(utf8("Falta la contraseña de «%1» en %2: no está en el almacén de contraseñas y no "
                  "hay terminal donde pedirla; use --password-stdin.")
                 .arg(target.user, host));
        return std::nullopt;
    }
    target.password = *password;
    return target;
}

// Qt's own warnings (in English, for a developer) stay out of the user's
// messages, which say every failure in words; CONTAVIO_DEBUG shows them.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg || qEnvironmentVariableIsSet("CONTAVIO_DEBUG"))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int runSync(const BookPlace& place, const Arguments& arguments, const OpenForWriting& open,
            const SaveBook& save) {
    const QtMessageHandler before = qInstallMessageHandler(quietQt);
    const std::shared_ptr<void> restore(nullptr,
                                        [before](void*) { qInstallMessageHandler(before); });
    SyncArgs args;
    if (const auto refused = parse(arguments, args)) return *refused;
    const bool server = isServer(args.where);
    if (!server && !QFileInfo(QString::fromLocal8Bit(args.where)).isDir()) {
        tell(utf8("%1 no es una carpeta.").arg(QString::fromLocal8Bit(args.where)));
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
    const std::string bookFolder = bookFolderOf(files.dataFile());
    std::optional<ServerTarget> target;
    if (server && !(target = targetOf(args, bookFolder))) return kFailed;
    const auto sets = open(files);
    if (!sets) return kFailed;
    if (!files.exists()) return noBook();
    args.options.stored = storedForm();
    args.options.bookName =
        QFileInfo(QString::fromStdString(files.dataFile())).fileName().toStdString();

    try {
        if (!server) {
            VdirSync sync(args.where, bookFolder, args.options);
            Syncer syncer{[&](const BookContacts& b, SyncReport& r) { return sync.run(b, r); },
                          [&] { sync.commit(); }, utf8("carpeta")};
            return syncBook(files, *sets, save, args, syncer,
                            syncPlaces(bookFolder, args.where).kept);
        }
        ServerSync sync(*target, bookFolder, args.options);
        ProgressLine line;
        sync.setProgress([&line](const SyncProgress& progress) { line.show(progress); });
        Syncer syncer{[&](const BookContacts& b, SyncReport& r) {
                          BookChanges changes = sync.run(b, r);
                          line.clear();
                          return changes;
                      },
                      [&] { sync.commit(); }, utf8("servidor")};
        const int status =
            syncBook(files, *sets, save, args, syncer, syncPlaces(bookFolder, bookFolder).kept);
        if (status == kDone && !args.trust.isEmpty() && !args.options.dryRun)
            keepTrustedCertificate(bookFolder, *target, args.trust);
        if (qEnvironmentVariableIsSet("CONTAVIO_DAV_COUNT"))
            tell(utf8("peticiones: %1").arg(sync.requests()));
        return status;
    } catch (const ServerError& error) {
        tell(error.message());
        if (!error.untrustedSha256().isEmpty()) {
            tell(utf8("Si ese certificado es de verdad el de su servidor, confíe en él (solo "
                      "para este servidor) con --trust-certificate %1")
                     .arg(QString::fromLatin1(error.untrustedSha256())));
        }
        if (!error.passwordWithheldFrom().isEmpty())
            tell(ui(text::kDavSendPasswordAdvice).arg(error.passwordWithheldFrom()));
        tell(utf8("La agenda sigue como estaba; la próxima sincronización se pone al día."));
        return kFailed;
    } catch (const std::exception& error) {
        tellBook(error.what());
        return kFailed;
    }
}

}  // namespace contavio::cli
