// contavio-book: the contact book of Contavio from the command line, for
// people and scripts. See `contavio-book --help` and its manual page.
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <map>

#include "Commands.h"
#include "Output.h"
#include "book/Version.h"
#include "engine/Platform.h"

namespace {

using namespace contavio;
using namespace contavio::cli;

// The store's own messages ("No se pudo abrir: ...") go to standard error.
class ErrorSink : public MessageSink {
  public:
    void show(const std::string& text) override { tellBook(text); }
};

// --book names the encrypted file, or the folder that holds data.vlt.
BookPlace placeOf(const std::string& path) {
    BookPlace place;
    const QFileInfo info(QString::fromLocal8Bit(path));
    if (info.isDir()) {
        place.folder = path;
    } else {
        place.folder = QFileInfo(info.filePath()).path().toLocal8Bit().toStdString();
        place.dataName = info.fileName().toLocal8Bit().toStdString();
    }
    return place;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ErrorSink sink;
    setMessageSink(&sink);

    const std::map<std::string, int (*)(const BookPlace&, const Arguments&)> commands = {
        {"export", exportCommand}, {"import", importCommand},   {"list", listCommand},
        {"query", queryCommand},   {"check", checkCommand},     {"delete", deleteCommand},
        {"sync", syncCommand},     {"restore", restoreCommand},
    };
    BookPlace place;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::puts(usageOf(""));
            return 0;
        }
        if (option == "--version") {
            std::printf("contavio-book %s\n", CONTAVIO_VERSION);
            return 0;
        }
        if (option == "--book" && i + 1 < argc) {
            place = placeOf(argv[++i]);
        } else if (option.rfind("--book=", 0) == 0) {
            place = placeOf(option.substr(7));
        } else {
            std::fprintf(stderr, "contavio-book: opción desconocida: %s\n%s\n", argv[i],
                         usageOf(""));
            return 2;
        }
    }
    if (i >= argc) {
        std::fprintf(stderr, "%s\n", usageOf(""));
        return 2;
    }
    const std::string command = argv[i++];
    if (command == "help") {
        const char* usage = usageOf(i < argc ? argv[i] : "");
        std::puts(usage != nullptr ? usage : usageOf(""));
        return usage != nullptr ? 0 : 2;
    }
    const auto found = commands.find(command);
    if (found == commands.end()) {
        std::fprintf(stderr, "contavio-book: orden desconocida: %s\n%s\n", command.c_str(),
                     usageOf(""));
        return 2;
    }
    Arguments args(argv + i, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::puts(usageOf(command));
            return 0;
        }
    }
    return found->second(place, args);
}
