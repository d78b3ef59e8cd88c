// Hostile database files at start and a disk that fails at close, met
// through the real windows. Whatever the file holds, the program starts, says
// what is wrong, works on a real contact set, and keeps the bytes it could not
// read; whatever the disk does at close, the old files stay as they were and
// the session's contacts can still be saved once the fault is gone.
//
// The tests run as root in CI, where permissions stop no write: the faults
// come from things that stop root too (a folder where the file should be, a
// link that leads nowhere or through a plain file, a working folder that is
// gone) and from the file layer of the store, which makes a call fail as a
// full, broken or read-only disk would.
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "GuiTest.h"
#include "book/Ansi.h"
#include "engine/Platform.h"
#include "persistence/DataFiles.h"
#include "persistence/UEncrypt.h"

namespace contavio::testing {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kKey = 853;
const std::string kCrLf = "\r\n";

std::string text(const QString& shown) { return shown.toStdString(); }
std::string text(const QStringList& shown) { return shown.join(" | ").toStdString(); }

// The system's text for an error, as the program shows it.
QString systemMessage(int error) { return fromErrorText(std::strerror(error)); }

// --- Files ------------------------------------------------------------------

std::vector<std::string> splitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(kCrLf, begin);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(begin, end - begin));
        begin = end + kCrLf.size();
    }
    return lines;
}

std::string joinCrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + kCrLf;
    return text;
}

// The encrypted form of a file in the contact set's line layout: each line
// enciphered on its own (empty separator lines stay empty).
std::string encrypted(const std::string& plain, int32_t key = kKey) {
    std::vector<std::string> lines = splitCrLf(plain);
    for (std::string& line : lines) line = encryptStr(line, key);
    return joinCrLf(lines);
}

// A small valid book: Ana with a telephone and an e-mail, Bea with neither.
std::string smallBook() {
    Contact ana = person("Ana", "Ruiz", "Centro");
    ana.phones = {"555 0101"};
    ana.emails = {"ana@correo.example"};
    return legacyText({ana, person("Bea", "Sanz", "Norte")});
}

// Line numbers (from 0) in smallBook().
constexpr size_t kCountLine = 0;
constexpr size_t kTagLine = 1;
constexpr size_t kStringCountLine = 4;
constexpr size_t kStringListCountLine = 7;
constexpr size_t kAnaAddressLine = 11 + 3;
constexpr size_t kAnaEmailCountLine = 11 + 8;
constexpr size_t kBeaEmailCountLine = 11 + 13 + 8;

size_t smallBookLines() { return splitCrLf(smallBook()).size(); }

// The small book as the named file holds it: enciphered for data.vlt.
std::string bookFor(bool legacy) { return legacy ? smallBook() : encrypted(smallBook()); }

// The small book with one line replaced (enciphered for data.vlt).
std::string withLine(bool legacy, size_t index, const std::string& line) {
    std::vector<std::string> lines = splitCrLf(smallBook());
    lines.at(index) = line;
    const std::string plain = joinCrLf(lines);
    return legacy ? plain : encrypted(plain);
}

// The file's own bytes with a NUL put into line `index`, after its first byte.
std::string withNul(bool legacy, size_t index) {
    std::vector<std::string> lines = splitCrLf(bookFor(legacy));
    lines.at(index).insert(1, 1, '\0');
    return joinCrLf(lines);
}

// Several megabytes of digits on one line: too long for any number.
std::string hugeDigits() {
    std::string digits;
    digits.reserve(4u << 20);
    while (digits.size() < (4u << 20)) digits += "1234567890";
    return digits;
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

// What the store says about a file that exists, or "" when it reads in full.
std::string storeReason(const std::string& file, bool legacy) {
    TConjuntos sets(1);
    try {
        if (legacy) {
            sets.loadText(file, 0);
        } else {
            sets.loadCrypt(file, 0, kKey);
        }
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// Everything under a folder, by relative name: each entry's kind, its mode
// and its bytes or a link's target. Equal snapshots: nothing was touched.
std::map<std::string, std::string> snapshot(const fs::path& root = ".") {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0) {
            entries[name] = "gone";
            continue;
        }
        const std::string mode = " mode " + std::to_string(info.st_mode & 07777);
        if (S_ISLNK(info.st_mode)) {
            entries[name] = "link to " + fs::read_symlink(entry.path()).string();
        } else if (S_ISDIR(info.st_mode)) {
            entries[name] = "folder" + mode;
        } else {
            entries[name] = "file" + mode + ": " + readBytes(entry.path().string());
        }
    }
    return entries;
}

mode_t modeOf(const std::string& file) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// The regular files of the working folder whose names start with prefix
// (planted links left out).
std::vector<std::string> regularFilesStartingWith(const std::string& prefix) {
    std::vector<std::string> names;
    for (const std::string& name : filesStartingWith(prefix)) {
        if (fs::is_regular_file(fs::symlink_status(name))) names.push_back(name);
    }
    return names;
}

// A text a person can read in a message box: short, and saying what failed.
bool saysWhatFailed(const QString& reason) {
    return reason.contains(QLatin1String("is not a valid integer value")) ||
           reason.contains(QLatin1String("is not a valid floating point value")) ||
           reason.contains(q(" est\xE1 da\xF1"
                             "ado: ")) ||
           reason.contains(q(" no guarda una agenda de contactos"));
}

constexpr qsizetype kReadableMessage = 600;  // characters

// --- Hostile files at start ---------------------------------------------------

struct Hostile {
    const char* name;
    std::string (*bytes)(bool legacy);  // what the file holds
};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.name; }

const Hostile kHostileFiles[] = {
    {"Empty", [](bool) { return std::string(); }},
    // For contact.txt: an enciphered book where plain text is expected.
    {"WrittenWithAnotherKey",
     [](bool legacy) { return encrypted(smallBook(), legacy ? kKey : 900); }},
    {"NegativeElementCount", [](bool legacy) { return withLine(legacy, kCountLine, "-2"); }},
    {"NegativeFieldCount", [](bool legacy) { return withLine(legacy, kStringCountLine, "-8"); }},
    {"ElementCountOfMaxIntInATinyFile",
     [](bool legacy) { return withLine(legacy, kCountLine, "2147483647"); }},
    {"FieldCountOfMaxInt",
     [](bool legacy) { return withLine(legacy, kStringListCountLine, "2147483647"); }},
    {"ListCountOfMaxIntAfterAWholeContact",
     [](bool legacy) { return withLine(legacy, kBeaEmailCountLine, "2147483647"); }},
    {"ElementCountBeyond32Bits",
     [](bool legacy) { return withLine(legacy, kCountLine, "99999999999"); }},
    {"TagBeyond32Bits", [](bool legacy) { return withLine(legacy, kTagLine, "-99999999999"); }},
    {"ListCountBeyond32Bits",
     [](bool legacy) { return withLine(legacy, kAnaEmailCountLine, "99999999999"); }},
    {"NulInTheElementCount", [](bool legacy) { return withNul(legacy, kCountLine); }},
    {"NulInAListCountAfterAWholeContact",
     [](bool legacy) { return withNul(legacy, kBeaEmailCountLine); }},
    {"NulInAValue", [](bool legacy) { return withNul(legacy, kAnaAddressLine); }},
    {"LineOfSeveralMegabytesForACount",
     [](bool legacy) { return withLine(legacy, kAnaEmailCountLine, hugeDigits()); }},
    {"SeveralMegabytesWithoutALineEnd", [](bool) { return std::string(3u << 20, 'x'); }},
    {"OldMacLineEnds",
     [](bool legacy) {
         std::string bytes = bookFor(legacy);
         std::string cr;
         for (const std::string& line : splitCrLf(bytes)) cr += line + "\r";
         return cr;
     }},
    {"RandomBytes", [](bool) { return randomBytes(8192, 20240611); }},
};

class HostileStartTest : public GuiTest {
  protected:
    // The whole session with a file the store cannot read in full: the start
    // says so, the book works, and the file's bytes outlive the session.
    void expectDamageSurvived(const char* file, const std::string& original, bool legacy) {
        const std::string reason = storeReason(file, legacy);
        ASSERT_FALSE(reason.empty()) << "the store reads this file in full";
        expectUnusableFileSurvived(file, original, legacy, fromErrorText(reason));
    }

    // The same for any file the program cannot use, with the reason it gives.
    void expectUnusableFileSurvived(const char* file, const std::string& original, bool legacy,
                                    const QString& reason) {
        start();
        ASSERT_EQ(messages().size(), 1) << text(messages());
        const QString told = messages().first();
        const QString name = QString::fromLatin1(file);
        EXPECT_TRUE(told.startsWith(q("No se pudo leer completo el archivo ") + name + ":\n"))
            << text(told);
        EXPECT_TRUE(told.contains(reason)) << text(told);
        EXPECT_TRUE(saysWhatFailed(told)) << text(told);
        EXPECT_TRUE(told.contains(name + ".damaged-")) << text(told);
        EXPECT_LE(told.size(), kReadableMessage) << "a message a person can read";

        // A real contact set, with whatever was read before the damage.
        ASSERT_NE(gConjuntos, nullptr);
        ASSERT_FALSE(gConjuntos->isEmpty(0));
        const int32_t readBefore = gConjuntos->sets[0]->count;
        EXPECT_TRUE(told.contains(
            q(readBefore > 0 ? "Se muestran los contactos que se leyeron antes del error."
                             : "No se pudo leer ning\xFAn contacto")))
            << text(told);
        if (readBefore > 0) {
            Contact ana;
            EXPECT_TRUE(storedContact("AnaRuiz", ana)) << "the contact before the damage";
        }
        expectTheBookWorks(readBefore);
        quit();
        EXPECT_EQ(messages().size(), 1) << text(messages());
        EXPECT_TRUE(questions().empty());

        // The damaged bytes, byte for byte, under a backup name.
        const std::vector<std::string> backups = filesStartingWith(std::string(file) + ".damaged-");
        ASSERT_EQ(backups.size(), 1u);
        EXPECT_TRUE(readBytes(backups[0]) == original) << "the damaged file's bytes changed";
        if (legacy) {
            EXPECT_FALSE(fileExists("contact.txt")) << "renamed aside, not copied";
        }
        const Book book = readBook("data.vlt");
        EXPECT_EQ(book.contacts.size(), static_cast<size_t>(readBefore) + 1);
        EXPECT_TRUE(book.contacts.count("ZoeVega"));
    }

    // Adding, searching and picking, on the set that start-up left.
    void expectTheBookWorks(int32_t contactsBefore) {
        addContact("Zoe", "Vega", "Oeste", {"555 0199"}, {"zoe@correo.example"});
        type("LabeledEdit7", "Zoe");
        click("Button3");
        EXPECT_EQ(lines("ListBox3"), QStringList{"Zoe Vega Oeste "});
        EXPECT_EQ(label("Label11")->text(), "Soluciones: 1");

        erase(edit("LabeledEdit1"));
        erase(edit("LabeledEdit2"));
        list("ListBox1")->clear();
        clickLine("ListBox3", 0);
        EXPECT_EQ(edit("LabeledEdit1")->text(), "Zoe");
        EXPECT_EQ(edit("LabeledEdit2")->text(), "Vega");
        EXPECT_EQ(lines("ListBox1"), QStringList{"555 0199"});
        EXPECT_EQ(form().windowTitle(), "Tarvel: Zoe Vega");
        EXPECT_EQ(gCurrentKey, "ZoeVega");

        erase(edit("LabeledEdit7"));
        click("Button3");
        EXPECT_EQ(label("Label11")->text(), "Soluciones: " + QString::number(contactsBefore + 1));
    }
};

class HostileFileTest : public HostileStartTest,
                        public ::testing::WithParamInterface<std::tuple<Hostile, bool>> {};

TEST_P(HostileFileTest, StartsSaysWhatIsWrongWorksAndKeepsTheFilesBytes) {
    const auto& [hostile, legacy] = GetParam();
    const char* file = legacy ? "contact.txt" : "data.vlt";
    const std::string original = hostile.bytes(legacy);
    writeBytes(file, original);
    expectDamageSurvived(file, original, legacy);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFileTest,
                         ::testing::Combine(::testing::ValuesIn(kHostileFiles), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Hostile, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "InContactTxt" : "InDataVlt");
                         });

// A book cut after each of its lines. Only the last separator line may go
// missing: that file still reads in full.
class CutBookTest : public HostileStartTest,
                    public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

TEST_P(CutBookTest, BookCutAfterAnyLineLosesNothing) {
    const auto& [kept, legacy] = GetParam();
    const char* file = legacy ? "contact.txt" : "data.vlt";
    std::vector<std::string> bookLines = splitCrLf(bookFor(legacy));
    bookLines.resize(kept);
    const std::string original = joinCrLf(bookLines);
    writeBytes(file, original);

    if (kept + 1 < smallBookLines()) {
        expectDamageSurvived(file, original, legacy);
        return;
    }
    // Without its last separator the book is whole: nothing to report.
    start();
    EXPECT_TRUE(messages().isEmpty()) << text(messages());
    EXPECT_EQ(lines("ListBox3"), (QStringList{"Ana Ruiz Centro ", "Bea Sanz Norte "}));
    expectTheBookWorks(2);
    quit();
    EXPECT_TRUE(filesStartingWith(std::string(file) + ".damaged-").empty());
    if (legacy) {
        EXPECT_FALSE(fileExists("contact.txt")) << "read in full: it goes";
    }
    Book book = readBook("data.vlt");
    EXPECT_EQ(book.contacts.size(), 3u);
    for (const char* key : {"AnaRuiz", "BeaSanz", "ZoeVega"}) {
        EXPECT_TRUE(book.contacts.count(key)) << key;
    }
    EXPECT_EQ(book.contacts["AnaRuiz"].phones, std::vector<std::string>{"555 0101"});
}

INSTANTIATE_TEST_SUITE_P(EveryLine, CutBookTest,
                         ::testing::Combine(::testing::Range<size_t>(0, smallBookLines()),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, bool>>& info) {
                             return "After" + std::to_string(std::get<0>(info.param)) + "Lines" +
                                    (std::get<1>(info.param) ? "OfContactTxt" : "OfDataVlt");
                         });

// --- Well-formed books of another shape ---------------------------------------

// A book in the right line layout whose set is not the contact set: its six
// counts (strings, integers, floats, string lists, integer lists, float
// lists) and key field, and one element of that shape.
struct Shape {
    const char* name;
    int32_t elements;
    int32_t keyField;
    int32_t counts[6];
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

std::string shapedBook(const Shape& shape) {
    std::vector<std::string> lines = {std::to_string(shape.elements), "0", "Contacto",
                                      std::to_string(shape.keyField)};
    for (const int32_t count : shape.counts) lines.push_back(std::to_string(count));
    lines.push_back("");
    for (int32_t e = 0; e < shape.elements; ++e) {
        for (int32_t i = 0; i < shape.counts[0]; ++i) lines.push_back("v" + std::to_string(i));
        for (int32_t i = 0; i < shape.counts[1]; ++i) lines.push_back("7");
        for (int32_t i = 0; i < shape.counts[2]; ++i) {
            lines.push_back(std::string("1") + decimalSeparator() + "5");
        }
        for (int32_t j = 0; j < shape.counts[3]; ++j) {
            lines.push_back("1");
            lines.push_back("item");
        }
        for (int32_t j = 0; j < shape.counts[4]; ++j) {
            lines.push_back("1");
            lines.push_back("3");
        }
        lines.push_back("");
    }
    return joinCrLf(lines);
}

const Shape kShapes[] = {
    {"OneStringField", 1, 0, {1, 0, 0, 0, 0, 0}},
    {"MoreFieldsAndListsThanAContact", 1, 0, {10, 0, 0, 5, 0, 0}},
    {"NumberFieldsBesideTheContactFields", 1, 0, {8, 2, 1, 2, 1, 0}},
    {"KeyInTheAddressField", 1, 3, {8, 0, 0, 2, 0, 0}},
    {"EmptySetOfOneStringField", 0, 0, {1, 0, 0, 0, 0, 0}},
};

class OtherShapeTest : public HostileStartTest,
                       public ::testing::WithParamInterface<std::tuple<Shape, bool>> {};

// The store reads such a file in full; the window would read and write its
// elements out of range, so the program keeps it aside and starts empty.
TEST_P(OtherShapeTest, IsKeptAsideAndTheBookStartsEmpty) {
    const auto& [shape, legacy] = GetParam();
    const char* file = legacy ? "contact.txt" : "data.vlt";
    const std::string original = legacy ? shapedBook(shape) : encrypted(shapedBook(shape));
    writeBytes(file, original);
    ASSERT_EQ(storeReason(file, legacy), "") << "a well-formed file";
    expectUnusableFileSurvived(file, original, legacy,
                               q("El archivo ") + file +
                                   q(" no guarda una agenda de contactos: sus elementos no tienen "
                                     "8 campos de texto y 2 listas de texto con la clave en el "
                                     "primero."));
    Book book = readBook("data.vlt");
    EXPECT_EQ(book.nStr, 8);
    EXPECT_EQ(book.nStrList, 2);
    EXPECT_EQ(book.keyField, 0);
    EXPECT_EQ(book.contacts["ZoeVega"].address, "Oeste");
    EXPECT_EQ(book.contacts["ZoeVega"].phones, std::vector<std::string>{"555 0199"});
}

INSTANTIATE_TEST_SUITE_P(Shapes, OtherShapeTest,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Shape, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "InContactTxt" : "InDataVlt");
                         });

// --- Odd input that is no damage, and a folder for a file ---------------------

using OddInputTest = HostileStartTest;

// A value of over a megabyte (more than the reader takes in one block) is
// data, not damage: it is shown and saved whole.
TEST_F(OddInputTest, ValueOfOverAMegabyteIsShownAndSavedWhole) {
    std::string notes;
    while (notes.size() < (1u << 20) + 4096) notes += "nota larga ";
    Contact ana = person("Ana", "Ruiz", "Centro");
    ana.notes = notes;
    writeBytes("data.vlt", encrypted(legacyText({ana, person("Bea", "Sanz", "Norte")})));
    start();
    EXPECT_TRUE(messages().isEmpty()) << text(messages());
    clickLine("ListBox3", 0);
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Ana");
    EXPECT_EQ(memo()->toPlainText().size(), static_cast<qsizetype>(notes.size()));
    expectTheBookWorks(2);
    quit();
    Book book = readBook("data.vlt");
    EXPECT_EQ(book.contacts.size(), 3u);
    EXPECT_TRUE(book.contacts["AnaRuiz"].notes == notes);
}

// contact.txt as a folder: the read fails with the system's message, and the
// folder is moved aside after the contacts are saved, never deleted.
TEST_F(OddInputTest, LegacyNameTakenByAFolderIsReportedAndMovedAside) {
    fs::create_directory("contact.txt");
    writeBytes("contact.txt/dentro.txt", "no tocar");
    start();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages().first().startsWith(
        q("No se pudo leer completo el archivo contact.txt:\n") + systemMessage(EISDIR)))
        << text(messages());
    expectTheBookWorks(0);
    quit();
    const std::vector<std::string> aside = filesStartingWith("contact.txt.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(aside[0] + "/dentro.txt"), "no tocar");
    EXPECT_TRUE(readBook("data.vlt").contacts.count("ZoeVega"));
}

// --- A save at close that fails ------------------------------------------------

enum class Fault {
    FullDisk,
    BrokenWrite,
    BrokenSync,
    RenameRefused,
    ReadOnlyFileSystem,
    DataFileIsAFolder,
    DanglingLink,
    LinkThroughAPlainFile,
};

struct FaultCase {
    Fault fault;
    const char* name;
    int error;  // what the system says
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

// The permission and read-only cases stand in for a folder that root cannot
// write into: the file layer refuses the rename that would put the new file
// in place, as such a folder or file system does.
const FaultCase kFaults[] = {
    {Fault::FullDisk, "FullDisk", ENOSPC},
    {Fault::BrokenWrite, "BrokenDiskOnWrite", EIO},
    {Fault::BrokenSync, "BrokenDiskOnSync", EIO},
    {Fault::RenameRefused, "FolderRefusesTheNewFile", EACCES},
    {Fault::ReadOnlyFileSystem, "ReadOnlyFileSystem", EROFS},
    {Fault::DataFileIsAFolder, "DataFileIsAFolder", EISDIR},
    {Fault::DanglingLink, "DataFileIsALinkToNothing", ENOENT},
    {Fault::LinkThroughAPlainFile, "DataFileLinksThroughAPlainFile", ENOTDIR},
};

bool isDiskFault(Fault fault) {
    return fault != Fault::DataFileIsAFolder && fault != Fault::DanglingLink &&
           fault != Fault::LinkThroughAPlainFile;
}

bool isLinkFault(Fault fault) {
    return fault == Fault::DanglingLink || fault == Fault::LinkThroughAPlainFile;
}

// A disk that fails one kind of call until the test repairs it.
class FailingDisk : public FileLayer {
  public:
    FailingDisk(Fault fault, int error) : fault_(fault), error_(error) { setFileLayer(this); }
    ~FailingDisk() override { setFileLayer(nullptr); }
    FailingDisk(const FailingDisk&) = delete;
    FailingDisk& operator=(const FailingDisk&) = delete;

    ssize_t write(int fd, const void* data, size_t size) override {
        if (failing(Fault::FullDisk) || failing(Fault::BrokenWrite)) return fail();
        return FileLayer::write(fd, data, size);
    }
    int fsync(int fd) override {
        if (failing(Fault::BrokenSync)) return fail();
        return FileLayer::fsync(fd);
    }
    int rename(const char* from, const char* to) override {
        if (failing(Fault::RenameRefused) || failing(Fault::ReadOnlyFileSystem)) return fail();
        return FileLayer::rename(from, to);
    }

    bool broken = true;

  private:
    bool failing(Fault fault) const { return broken && fault_ == fault; }
    int fail() const {
        errno = error_;
        return -1;
    }

    Fault fault_;
    int error_;
};

// The fault, whether contact.txt is there (and read instead of data.vlt), and
// whether the user retries once the fault is gone or leaves without saving.
class CloseFaultTest : public GuiTest,
                       public ::testing::WithParamInterface<std::tuple<FaultCase, bool, bool>> {
  protected:
    // Puts the fault in place of data.vlt, or an old data.vlt beside a disk fault.
    void prepare(Fault fault) {
        switch (fault) {
            case Fault::DataFileIsAFolder:
                fs::create_directory("data.vlt");
                writeBytes("data.vlt/nota.txt", "dentro");
                break;
            case Fault::DanglingLink:
                fs::create_symlink("guardado/data.vlt", "data.vlt");
                break;
            case Fault::LinkThroughAPlainFile:
                writeBytes("guardado", "no es una carpeta");
                fs::create_symlink("guardado/data.vlt", "data.vlt");
                break;
            default:
                writeBytes("data.vlt", encrypted(legacyText({person("Old", "Book", "Sur")})));
                break;
        }
    }

    // What the user does about the fault before choosing "Reintentar".
    void repair(Fault fault, FailingDisk& disk) {
        switch (fault) {
            case Fault::DataFileIsAFolder:
                fs::rename("data.vlt", "carpeta");
                break;
            case Fault::DanglingLink:
                fs::create_directory("guardado");
                writeBytes("guardado/data.vlt", "");
                break;
            case Fault::LinkThroughAPlainFile:
                fs::remove("guardado");
                fs::create_directory("guardado");
                writeBytes("guardado/data.vlt", "");
                break;
            default:
                disk.broken = false;
                break;
        }
    }

    // What start-up says with data.vlt as the fault left it and no contact.txt.
    QStringList startMessages(Fault fault) {
        switch (fault) {
            case Fault::DataFileIsAFolder:
            case Fault::LinkThroughAPlainFile:
                return {q("No se pudo leer completo el archivo data.vlt:\n") +
                        systemMessage(fault == Fault::DataFileIsAFolder ? EISDIR : ENOTDIR)};
            case Fault::DanglingLink:
                return {q("No se pudo abrir: data.vlt")};
            default:
                return {};
        }
    }
};

TEST_P(CloseFaultTest, OldFilesStayTheUserIsToldWhyAndTheContactsWaitForARetry) {
    const auto& [fault, legacy, retry] = GetParam();
    const std::string legacyBytes = legacyText({person("Ana", "Ruiz", "Centro")});
    if (legacy) writeBytes("contact.txt", legacyBytes);
    prepare(fault.fault);

    start();
    if (legacy && isDiskFault(fault.fault)) {
        // The old data.vlt, which contact.txt replaces, is copied aside first.
        ASSERT_EQ(messages().size(), 1) << text(messages());
        EXPECT_TRUE(messages().first().startsWith(q("Se ley\xF3 contact.txt en lugar de data.vlt")))
            << text(messages());
    } else if (legacy) {
        EXPECT_TRUE(messages().isEmpty()) << text(messages());
    } else {
        const QStringList expected = startMessages(fault.fault);
        ASSERT_EQ(messages().size(), expected.size()) << text(messages());
        if (!expected.isEmpty()) {
            EXPECT_TRUE(messages().first().startsWith(expected.first())) << text(messages());
        }
    }
    forgetMessages();
    addContact("Luis", "Mora", "Norte", {"555 0123"});
    const std::map<std::string, std::string> before = snapshot();

    FailingDisk disk(fault.fault, fault.error);
    bool answered = false;
    answers.push_back([&](const MessageRequest&) {
        answered = true;
        EXPECT_EQ(snapshot(), before) << "the failed save changed the working folder";
        if (!retry) return 1;  // "Salir sin guardar"
        repair(fault.fault, disk);
        return 0;  // "Reintentar"
    });
    quit();
    ASSERT_TRUE(answered);

    const std::vector<MessageRequest> asked = questions();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].text.startsWith(q("No se pudieron guardar los contactos en data.vlt:\n")))
        << text(asked[0].text);
    EXPECT_TRUE(asked[0].text.contains(systemMessage(fault.error))) << text(asked[0].text);
    EXPECT_EQ(asked[0].choices, (QStringList{q("Reintentar"), q("Salir sin guardar")}));
    EXPECT_TRUE(messages().isEmpty()) << text(messages());

    if (!retry) {
        EXPECT_EQ(snapshot(), before) << "leaving without saving changed the working folder";
        return;
    }
    const std::string saved = isLinkFault(fault.fault) ? "guardado/data.vlt" : "data.vlt";
    Book book = readBook(saved);
    std::set<std::string> keys;
    for (const auto& [key, contact] : book.contacts) keys.insert(key);
    std::set<std::string> expected = {"LuisMora"};
    if (legacy) expected.insert("AnaRuiz");
    if (!legacy && isDiskFault(fault.fault)) expected.insert("OldBook");
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(book.contacts["LuisMora"].phones, std::vector<std::string>{"555 0123"});
    EXPECT_FALSE(fileExists("contact.txt")) << "read in full and saved: it goes";
    if (isLinkFault(fault.fault)) {
        EXPECT_TRUE(fs::is_symlink("data.vlt"));
        EXPECT_EQ(fs::read_symlink("data.vlt"), "guardado/data.vlt");
    }
    if (fault.fault == Fault::DataFileIsAFolder) {
        EXPECT_EQ(readBytes("carpeta/nota.txt"), "dentro");
    }
    EXPECT_TRUE(filesStartingWith(".data.vlt.tmp-").empty()) << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CloseFaultTest,
    ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool(), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<FaultCase, bool, bool>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "WithContactTxt" : "") +
               (std::get<2>(info.param) ? "ThenRetry" : "ThenLeave");
    });

using GoneFolderTest = GuiTest;

// No one, root included, can create a file in a folder that was removed: the
// save fails on every retry, and leaving still closes the program.
TEST_F(GoneFolderTest, WorkingFolderRemovedWhileRunningIsReportedOnEveryRetry) {
    fs::create_directory("trabajo");
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral("trabajo")));
    start();
    addContact("Luis", "Mora", "Norte");
    ASSERT_TRUE(fs::remove(fs::path("..") / "trabajo"));
    answers.push_back([](const MessageRequest&) { return 0; });  // "Reintentar"
    answers.push_back([](const MessageRequest&) { return 1; });  // "Salir sin guardar"
    quit();
    const std::vector<MessageRequest> asked = questions();
    ASSERT_EQ(asked.size(), 2u);
    for (const MessageRequest& question : asked) {
        EXPECT_TRUE(question.text.startsWith(
            q("No se pudieron guardar los contactos en data.vlt:\n") + systemMessage(ENOENT)))
            << text(question.text);
    }
    EXPECT_FALSE(fs::exists(fs::path(path("trabajo").toStdString())));
}

// --- The files a save creates ---------------------------------------------------

class Umask {
  public:
    explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
    ~Umask() { ::umask(previous_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t previous_;
};

// Looks at each file a save writes into, through the descriptor it writes to.
class WatchedWrites : public FileLayer {
  public:
    struct Written {
        std::string path;
        bool regular = false;
        nlink_t links = 0;
        mode_t mode = 0;
        bool nameIsThisFile = false;  // the name is the written file, not a link to it
    };

    WatchedWrites() { setFileLayer(this); }
    ~WatchedWrites() override { setFileLayer(nullptr); }
    WatchedWrites(const WatchedWrites&) = delete;
    WatchedWrites& operator=(const WatchedWrites&) = delete;

    ssize_t write(int fd, const void* data, size_t size) override {
        char target[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        const std::string path = length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
        if (files.empty() || files.back().path != path) {
            Written written;
            written.path = path;
            struct stat byDescriptor {};
            struct stat byName {};
            if (::fstat(fd, &byDescriptor) == 0) {
                written.regular = S_ISREG(byDescriptor.st_mode);
                written.links = byDescriptor.st_nlink;
                written.mode = byDescriptor.st_mode & 07777;
                written.nameIsThisFile =
                    ::lstat(path.c_str(), &byName) == 0 && S_ISREG(byName.st_mode) &&
                    byName.st_ino == byDescriptor.st_ino && byName.st_dev == byDescriptor.st_dev;
            }
            files.push_back(written);
        }
        return FileLayer::write(fd, data, size);
    }

    std::vector<Written> files;
};

using SaveFilesTest = GuiTest;

// Names a writer might be expected to use for its temporary file, planted as
// links to a file outside the book and as a hard link of it.
TEST_F(SaveFilesTest, LinksPlantedAtGuessableTemporaryNamesAreNeverWrittenThrough) {
    const Umask mask(022);
    fs::create_directory("fuera");
    writeBytes("fuera/victima", "no tocar");
    const std::vector<std::string> planted = {
        ".data.vlt.tmp-XXXXXX", ".data.vlt.tmp-", ".data.vlt.tmp", "data.vlt.tmp",
        "data.vlt.new",         "data.vlt~",      ".data.vlt.swp", "data.vlt.bak"};
    for (const std::string& name : planted) fs::create_symlink("fuera/victima", name);
    fs::create_symlink("fuera/nuevo", ".data.vlt.tmp-000000");  // would create fuera/nuevo
    fs::create_hard_link("fuera/victima", ".data.vlt.tmp-AAAAAA");

    std::vector<std::string> used;
    for (const char* first : {"Ana", "Bea"}) {
        forgetMessages();
        start();
        addContact(q(first), "Ruiz", "Centro");
        WatchedWrites watch;
        quit();
        EXPECT_TRUE(questions().empty());
        ASSERT_EQ(watch.files.size(), 1u) << "one file written per save";
        const WatchedWrites::Written& temp = watch.files[0];
        const std::string prefix = path(".data.vlt.tmp-").toStdString();
        EXPECT_EQ(temp.path.rfind(prefix, 0), 0u) << temp.path;
        EXPECT_EQ(temp.path.size(), prefix.size() + 6) << temp.path;
        EXPECT_NE(temp.path, prefix + "XXXXXX");
        EXPECT_TRUE(temp.regular) << temp.path;
        EXPECT_EQ(temp.links, 1u) << "a new file, not one planted under that name";
        EXPECT_TRUE(temp.nameIsThisFile) << "written through a link";
        EXPECT_EQ(temp.mode, 0600u);
        used.push_back(temp.path);
    }
    EXPECT_NE(used[0], used[1]) << "the name is not the same on every save";

    EXPECT_EQ(readBytes("fuera/victima"), "no tocar");
    EXPECT_FALSE(fs::exists(fs::symlink_status("fuera/nuevo")));
    // Names of the form of a stale temporary are removed (the name, not what
    // it leads to); the others stay as they were.
    for (const char* stale :
         {".data.vlt.tmp-XXXXXX", ".data.vlt.tmp-AAAAAA", ".data.vlt.tmp-000000"}) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(stale))) << stale;
    }
    for (const std::string& name : planted) {
        if (name == ".data.vlt.tmp-XXXXXX") continue;
        EXPECT_TRUE(fs::is_symlink(name)) << name;
        EXPECT_EQ(fs::read_symlink(name), "fuera/victima") << name;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status("data.vlt")));
    EXPECT_EQ(modeOf("data.vlt"), 0600u);
    Book book = readBook("data.vlt");
    EXPECT_EQ(book.contacts.size(), 2u);
}

TEST_F(SaveFilesTest, NewDataFileIsPrivateUnderUmask022) {
    const Umask mask(022);
    start();
    addContact("Ana", "Ruiz", "Centro");
    quit();
    EXPECT_EQ(modeOf("data.vlt"), 0600u);

    fs::remove("data.vlt");
    writeBytes("contact.txt", legacyText({person("Bea", "Sanz", "Norte")}));
    start();
    quit();
    EXPECT_FALSE(fileExists("contact.txt"));
    EXPECT_EQ(modeOf("data.vlt"), 0600u);
}

// The copy of a damaged data.vlt has a name one can predict to the second;
// links planted there are passed over, and the copy is as private as the file.
TEST_F(SaveFilesTest, BackupOfADamagedFileGoesToAFreshNameAsPrivateAsTheFile) {
    const Umask mask(022);
    const std::string damaged = "esto no es una agenda\r\n";
    writeBytes("data.vlt", damaged);
    ASSERT_EQ(::chmod("data.vlt", 0600), 0);
    fs::create_directory("fuera");
    writeBytes("fuera/victima", "no tocar");
    std::vector<std::string> planted;
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second <= 10; ++second) {
        const std::string stamp =
            now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
        for (const std::string suffix : {"", "-2"}) {
            planted.push_back("data.vlt.damaged-" + stamp + suffix);
            fs::create_symlink("fuera/victima", planted.back());
        }
    }

    start();
    ASSERT_EQ(messages().size(), 1) << text(messages());
    EXPECT_TRUE(messages().first().startsWith(q("No se pudo leer completo el archivo data.vlt:")));
    quit();
    EXPECT_TRUE(questions().empty());
    EXPECT_EQ(readBytes("fuera/victima"), "no tocar");
    for (const std::string& name : planted) {
        EXPECT_TRUE(fs::is_symlink(name)) << name;
    }
    const std::vector<std::string> backups = regularFilesStartingWith("data.vlt.damaged-");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(readBytes(backups[0]), damaged);
    EXPECT_EQ(modeOf(backups[0]), 0600u);
    EXPECT_EQ(modeOf("data.vlt"), 0600u);
    EXPECT_TRUE(readBook("data.vlt").loaded);
}

}  // namespace
}  // namespace contavio::testing
