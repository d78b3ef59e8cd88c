// The readers of both database files and the writer of data.vlt, in one
// source of about 510 lines: both formats are read by one reader (loadHashE,
// with or without the cipher key), and the writer shares its value parsing
// and quoting; the line streams themselves are in LineFeed and LineSpool.
#include "DataFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Descriptor.h"
#include "LineFeed.h"
#include "LineSpool.h"
#include "engine/Constantes.h"
#include "engine/Platform.h"
#include "engine/Worker.h"
#include "engine/basicOps.h"

namespace contavio {

ssize_t FileLayer::read(int fd, void* data, size_t size) { return ::read(fd, data, size); }
ssize_t FileLayer::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileLayer::fsync(int fd) { return ::fsync(fd); }
int FileLayer::rename(const char* from, const char* to) { return ::rename(from, to); }

namespace {

FileLayer gPosixLayer;
FileLayer* gLayer = &gPosixLayer;

constexpr const char* kFloatListNotice = "OJO Entra a leer las listas de floats!";
constexpr const char* kIsDamaged =
    " est\xE1 da\xF1"
    "ado: ";

[[noreturn]] void throwSystemError(int error) { throw FileError(std::strerror(error)); }

// ---------------------------------------------------------------- reading

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// An optional sign, then digits only, within 32 bits.
bool parseInteger(std::string_view text, int32_t& value) {
    const size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (start == text.size()) return false;
    for (size_t i = start; i < text.size(); ++i) {
        if (!isDigit(text[i])) return false;
    }
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// An optional sign, digits with at most one decimal separator, an optional
// exponent; or one of the words the writer uses for values that are not finite.
bool parseFloat(std::string_view text, char separator, float& value) {
    if (text == "NAN" || text == "INF" || text == "-INF") {
        value = text == "NAN" ? NAN : text == "INF" ? INFINITY : -INFINITY;
        return true;
    }
    std::string plain;  // the same number with '.' and no '+', for from_chars
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    size_t digits = 0;
    for (; i < text.size() && isDigit(text[i]); ++i, ++digits) plain += text[i];
    if (i < text.size() && text[i] == separator) {
        plain += '.';
        for (++i; i < text.size() && isDigit(text[i]); ++i, ++digits) plain += text[i];
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        size_t exponentDigits = 0;
        for (; i < text.size() && isDigit(text[i]); ++i, ++exponentDigits) plain += text[i];
        if (exponentDigits == 0) return false;
    }
    if (i != text.size()) return false;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    return error == std::errc() && end == plain.data() + plain.size();
}

[[noreturn]] void throwDamaged(const std::string& fileName, const std::string& reason) {
    throw DamagedFileError("El archivo " + fileName + kIsDamaged + reason + ".");
}

std::string lineText(int64_t line) { return "la l\xEDnea " + std::to_string(line); }

// A value line as a conversion error quotes it: a line of megabytes would make
// a message box nobody can read (or wait for), so only its first bytes.
constexpr size_t kQuotedBytes = 80;

std::string quoted(std::string_view text) {
    if (text.size() <= kQuotedBytes) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kQuotedBytes)) + "...'";
}

// The value lines of one database file, deciphered when the file is
// enciphered; both readers share everything else.
class ValueReader {
  public:
    ValueReader(LineFeed& lines, const std::string& fileName)
        : lines_(lines), fileName_(fileName) {}

    // The next line, valid until the next read. It holds no NUL byte.
    std::string_view view() {
        const std::string_view line = lines_.next();
        // No writer puts a NUL in a line of either file (cipher codes are
        // 32..255), and a stored value would end at it: the rest of the line
        // would be lost without a word. Such a line is damage.
        if (lines_.lastHadNul()) {
            throwDamaged(fileName_, lineText(lines_.lineNumber()) + " tiene un byte nulo");
        }
        return line;
    }

    const std::string& text() {
        text_.assign(view());
        return text_;
    }

    int32_t integer() {
        int32_t value = 0;
        if (!parseInteger(text(), value)) {
            throw ConvertError(quoted(text_) + " is not a valid integer value");
        }
        return value;
    }

    float real() {
        float value = 0;
        if (!parseFloat(text(), decimalSeparator(), value)) {
            throw ConvertError(quoted(text_) + " is not a valid floating point value");
        }
        return value;
    }

    void skipSeparator() { lines_.next(); }
    LineFeed& lines() { return lines_; }

  private:
    LineFeed& lines_;
    const std::string& fileName_;
    std::string text_;
};

// The item count of a list. More items than the rest of the file can hold
// would only read empty lines: the count is damage, not data.
int32_t listCount(ValueReader& in, const std::string& fileName) {
    const int32_t count = in.integer();
    if (count > 0 && static_cast<uint64_t>(count) > in.lines().bytesLeft()) {
        throwDamaged(fileName, lineText(in.lines().lineNumber()) + " anuncia " +
                                   std::to_string(count) +
                                   " entradas de lista, m\xE1s de las que caben en el archivo");
    }
    return count;
}

void readElement(ValueReader& in, const TprotoData& proto, hashElemR* set,
                 const std::string& fileName) {
    auto elem = std::make_unique<TElem>();
    elem->setProto(proto);
    // What setStr would store: the value holds no NUL, so nothing is cut.
    for (int32_t i = 0; i < proto.nStr; ++i) elem->strs[static_cast<size_t>(i)].assign(in.view());
    // The set's memory for this key is fetched while the rest is read.
    prefetchHashE(set, elem->strs[static_cast<size_t>(set->keyField)]);
    for (int32_t i = 0; i < proto.nInt; ++i) elem->setInt(i, in.integer());
    for (int32_t i = 0; i < proto.nFloat; ++i) elem->setFloat(i, in.real());
    for (int32_t j = 0; j < proto.nStrList; ++j) {
        for (int32_t m = listCount(in, fileName); m > 0; --m) elem->addStrListItem(in.text(), j);
    }
    for (int32_t j = 0; j < proto.nIntList; ++j) {
        for (int32_t m = listCount(in, fileName); m > 0; --m) {
            elem->addIntListItem(in.integer(), j);
        }
    }
    for (int32_t j = 0; j < proto.nFloatList; ++j) {
        showMessage(kFloatListNotice);
        for (int32_t m = listCount(in, fileName); m > 0; --m) {
            elem->addFloatListItem(in.real(), j);
        }
    }
    addSHashE(std::move(elem), set);
    in.skipSeparator();
}

// How many more elements than a file can hold its header may announce: a
// file cut short still announces all of them. A table for a million elements
// (16 MB) is always allowed; beyond that, up to 1024 times what the file
// holds.
constexpr uint64_t kCutFileSlack = 1024;
constexpr uint64_t kCutFileFloor = 1u << 20;

// The one reader behind both file formats; key is none for the plain format.
void loadHashE(const std::string& fileName, hashElemR*& set, std::optional<int32_t> key) {
    const Descriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT) throwSystemError(errno);
        showMessage("No se pudo abrir: " + fileName);
        return;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throwSystemError(errno);
    LineFeed lines(fd.get(), static_cast<uint64_t>(info.st_size), *gLayer, key);
    ValueReader in(lines, fileName);

    // Lines 1 to 10. Nothing is made until they describe a set the file can hold.
    const int32_t n = in.integer();
    const int32_t data = in.integer();
    const std::string name = in.text();
    const int32_t keyField = in.integer();
    int32_t counts[6];  // strings, integers, floats, string lists, integer lists, float lists
    for (int32_t& count : counts) count = in.integer();

    if (n < 0) throwDamaged(fileName, lineText(1) + " da un n\xFAmero de elementos negativo");
    for (int i = 0; i < 6; ++i) {
        if (counts[i] < 0) throwDamaged(fileName, lineText(5 + i) + " da un n\xFAmero negativo");
    }
    TprotoData proto;
    proto.setData(counts[1], counts[0], counts[2]);
    proto.setListData(counts[4], counts[3], counts[5]);
    uint64_t fits = 0;  // elements the rest of the file can hold at most
    if (n > 0) {
        // Every block has a line per field and list plus its separator; only
        // the last separator may be missing at the end of the file. A file cut
        // short holds fewer blocks than its count: it is read up to the cut,
        // so the count is refused only where the table of 2n + 1 buckets it
        // asks for is out of all proportion to the file.
        int64_t perElement = 1;
        for (const int32_t count : counts) perElement += count;
        const uint64_t room = lines.bytesLeft();
        fits =
            static_cast<uint64_t>(perElement) > room ? 0 : room / static_cast<uint64_t>(perElement);
        const uint64_t allowed = std::max(kCutFileSlack * fits, kCutFileFloor);
        if (fits == 0 || static_cast<uint64_t>(n) > allowed || n > (INT32_MAX - 1) / 2) {
            throwDamaged(fileName, "anuncia " + std::to_string(n) +
                                       " elementos, m\xE1s de los que caben en el archivo");
        }
        if (keyField < 0 || keyField >= proto.nStr) {
            throwDamaged(fileName, "el campo clave " + std::to_string(keyField) +
                                       " no es uno de sus campos de texto");
        }
    }

    set = newHashElem(2 * n + 1, data, copyStr(name), keyField);
    setProtoHashE(set, proto);
    reserveHashE(set, static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(n), fits)));
    in.skipSeparator();
    for (int32_t i = 0; i < n; ++i) readElement(in, proto, set, fileName);
    hashErrMsg.clear();
    hashErrCode = ERR_OK;
}

// ---------------------------------------------------------------- writing

// Formats the values of a set as lines for the spool, which enciphers them
// and writes them.
class LineWriter {
  public:
    LineWriter(int fd, int32_t key, bool large) : spool_(fd, *gLayer, key, large) {}

    void text(std::string_view value) { spool_.line(value); }

    void integer(int32_t value) {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        text(std::string_view(digits, static_cast<size_t>(end - digits)));
    }

    // Two decimals with the user's separator; values that are not finite as
    // words that the reader takes back.
    void real(float value) {
        if (std::isnan(value)) return text("NAN");
        if (std::isinf(value)) return text(value > 0 ? "INF" : "-INF");
        char digits[64];
        const auto end =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2).ptr;
        end[-3] = decimalSeparator();
        text(std::string_view(digits, static_cast<size_t>(end - digits)));
    }

    void separator() { spool_.line({}); }

    void flush() { spool_.finish(); }

  private:
    LineSpool spool_;
};

void writeElement(LineWriter& out, const TElem& elem, const TprotoData& proto) {
    for (int32_t i = 0; i < proto.nStr; ++i) out.text(elem.str(i));
    for (int32_t i = 0; i < proto.nInt; ++i) out.integer(elem.getInt(i));
    for (int32_t i = 0; i < proto.nFloat; ++i) out.real(elem.getFloat(i));
    for (int32_t j = 0; j < proto.nStrList; ++j) {
        const strList* list = elem.strLists[static_cast<size_t>(j)];
        out.integer(list->count);
        for (const nodoStrList* node = list->head.get(); node; node = node->next.get()) {
            out.text(node->value);
        }
    }
    for (int32_t j = 0; j < proto.nIntList; ++j) {
        const intList* list = elem.intLists[static_cast<size_t>(j)];
        out.integer(list->count);
        for (const nodoIntList* node = list->head.get(); node; node = node->next.get()) {
            out.integer(node->value);
        }
    }
    // Float lists hold no items, but their count keeps the file readable.
    for (int32_t j = 0; j < proto.nFloatList; ++j) out.integer(0);
    out.separator();
}

// The elements of a set in chain order: bucket after bucket, each chain from
// its head. Large sets crowd into few long chains, and a walk of one chain
// waits on memory at every node; so kLanes chains are walked side by side,
// each into its own run, and the runs are joined in bucket order.
std::vector<const TElem*> chainOrder(const hashElemR& set) {
    constexpr size_t kLanes = 16;
    std::vector<const TElem*> elems;
    elems.reserve(static_cast<size_t>(std::max(set.count, 0)));
    if (elems.capacity() < kWorthASecondThread) {
        // Few elements stay in the caches anyway: one chain at a time.
        for (const auto& head : set.table) {
            for (const nodoHash* node = head.get(); node; node = node->next.get()) {
                elems.push_back(node->elem.get());
            }
        }
        return elems;
    }
    std::vector<const TElem*> runs[kLanes];
    const nodoHash* cursor[kLanes];
    size_t bucket = 0;
    const size_t buckets = set.table.size();
    while (bucket < buckets) {
        size_t lanes = 0;
        for (; lanes < kLanes && bucket < buckets; ++bucket) {
            const nodoHash* head = set.table[bucket].get();
            if (head == nullptr) continue;
            runs[lanes].clear();
            cursor[lanes++] = head;
        }
        for (size_t busy = lanes; busy > 0;) {
            busy = 0;
            for (size_t k = 0; k < lanes; ++k) {
                const nodoHash* node = cursor[k];
                if (node == nullptr) continue;
                runs[k].push_back(node->elem.get());
                cursor[k] = node->next.get();
                ++busy;
            }
        }
        for (size_t k = 0; k < lanes; ++k)
            elems.insert(elems.end(), runs[k].begin(), runs[k].end());
    }
    return elems;
}

void writeSet(LineWriter& out, const hashElemR& set) {
    const TprotoData& proto = *set.proto;
    out.integer(countHashE(&set));
    out.integer(set.data);
    out.text(set.name);
    out.integer(set.keyField);
    for (const int32_t count :
         {proto.nStr, proto.nInt, proto.nFloat, proto.nStrList, proto.nIntList, proto.nFloatList}) {
        out.integer(count);
    }
    out.separator();
    // Blocks go in chain order. The elements are gathered first, so that the
    // memory of the ones about to be written can be fetched ahead while the
    // current one is enciphered.
    const std::vector<const TElem*> elems = chainOrder(set);
    constexpr size_t kAhead = 8;
    for (size_t i = 0; i < elems.size(); ++i) {
        if (i + kAhead < elems.size()) __builtin_prefetch(elems[i + kAhead]);
        if (i + kAhead / 2 < elems.size()) {
            const TElem* soon = elems[i + kAhead / 2];
            __builtin_prefetch(soon->strs.data());
            __builtin_prefetch(soon->strLists.data());
        }
        if (i + 1 < elems.size()) {
            for (const std::string& value : elems[i + 1]->strs) __builtin_prefetch(value.data());
        }
        writeElement(out, *elems[i], proto);
    }
    out.flush();
}

// The path the save replaces: the file itself, or the file a symbolic link
// names, so that the link survives. A link that leads nowhere is refused.
std::string saveTarget(const std::string& fileName) {
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) != 0) {
        if (errno == ENOENT) return fileName;
        throwSystemError(errno);
    }
    if (!S_ISLNK(info.st_mode)) return fileName;
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(fileName.c_str(), nullptr), &std::free);
    if (!resolved) throwSystemError(errno);
    return resolved.get();
}

// A save's temporary file: it goes away with this object unless committed.
class TempFile {
  public:
    explicit TempFile(std::string pathTemplate) : path_(std::move(pathTemplate)) {
        // mkostemp opens with O_CREAT | O_EXCL: it never follows a link.
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) throwSystemError(errno);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(path_.c_str());
    }

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    void close() {
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0 && errno != EINTR) throwSystemError(errno);
    }
    void commit() { committed_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

// Temporary files of saves that were killed before their rename. Only names
// of the exact form mkostemp gave them are removed.
void removeStaleTemps(const std::string& folder, const std::string& prefix) {
    struct Closer {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(folder.c_str()));
    if (!dir) return;  // the save itself reports what is wrong with the folder
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix) {
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
        }
    }
}

void syncFolder(const std::string& folder) {
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) throwSystemError(errno);
    // Some file systems cannot sync a folder (EINVAL); the rename stands anyway.
    if (gLayer->fsync(fd.get()) != 0 && errno != EINVAL) throwSystemError(errno);
}

}  // namespace

void setFileLayer(FileLayer* layer) { gLayer = layer != nullptr ? layer : &gPosixLayer; }

FileLayer& fileLayer() { return *gLayer; }

void saveCryptHashE(const std::string& fileName, hashElemR* set, int32_t key) {
    const std::string target = saveTarget(fileName);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) throwSystemError(errno);
    if (exists && S_ISDIR(old.st_mode)) throwSystemError(EISDIR);

    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string prefix =
        "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp-";
    removeStaleTemps(folder, prefix);

    TempFile temp(folder + "/" + prefix + "XXXXXX");
    if (::fchmod(temp.fd(), exists ? (old.st_mode & 07777) : 0600) != 0) throwSystemError(errno);
    LineWriter out(temp.fd(), key, countHashE(set) >= static_cast<int32_t>(kWorthASecondThread));
    writeSet(out, *set);
    if (gLayer->fsync(temp.fd()) != 0) throwSystemError(errno);
    temp.close();
    if (gLayer->rename(temp.path().c_str(), target.c_str()) != 0) throwSystemError(errno);
    temp.commit();
    syncFolder(folder);
}

void loadCryptHashE(const std::string& fileName, hashElemR*& set, int32_t key) {
    loadHashE(fileName, set, key);
}

void loadTextHashE(const std::string& fileName, hashElemR*& set) {
    loadHashE(fileName, set, std::nullopt);
}

}  // namespace contavio
