#include "persistence/DataFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/Constantes.h"
#include "engine/Platform.h"
#include "persistence/UEncrypt.h"

namespace contavio {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kKey = 853;
const std::string kCrLf = "\r\n";
const std::string kFloatNotice = "OJO Entra a leer las listas de floats!";
const std::string kIsDamaged =
    " est\xE1 da\xF1"
    "ado: ";

// ------------------------------------------------------------- test doubles

class RecordingSink : public MessageSink {
  public:
    void show(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// Writes fail from the (failAt + 1)-th call on, as on a full disk.
class FullDisk : public FileLayer {
  public:
    explicit FullDisk(int failAt) : failAt_(failAt) {}
    ssize_t write(int fd, const void* data, size_t size) override {
        if (calls_++ >= failAt_) {
            errno = ENOSPC;
            return -1;
        }
        return FileLayer::write(fd, data, size);
    }

  private:
    int failAt_;
    int calls_ = 0;
};

// Takes at most a few bytes per call, as a slow pipe or a signal would.
class ShortWrites : public FileLayer {
  public:
    ssize_t write(int fd, const void* data, size_t size) override {
        ++calls;
        if (calls % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return FileLayer::write(fd, data, std::min<size_t>(size, 7));
    }
    int calls = 0;
};

class BrokenSync : public FileLayer {
  public:
    int fsync(int) override {
        errno = EIO;
        return -1;
    }
};

// Skips syncing, for tests about contents that save many times.
class NoSync : public FileLayer {
  public:
    int fsync(int) override { return 0; }
};

class CrossDeviceRename : public FileLayer {
  public:
    int rename(const char*, const char*) override {
        errno = EXDEV;
        return -1;
    }
};

// Looks at the temporary file just before it replaces the target.
class WatchedRename : public FileLayer {
  public:
    int rename(const char* from, const char* to) override {
        this->from = from;
        this->to = to;
        struct stat info {};
        if (::stat(from, &info) == 0) mode = info.st_mode & 07777;
        return FileLayer::rename(from, to);
    }
    std::string from, to;
    mode_t mode = 0;
};

// Hands out one to seven bytes per call, and is interrupted now and then.
class ShortReads : public FileLayer {
  public:
    ssize_t read(int fd, void* data, size_t size) override {
        ++calls;
        if (calls % 4 == 0) {
            errno = EINTR;
            return -1;
        }
        return FileLayer::read(fd, data, std::min<size_t>(size, 1 + calls % 7));
    }
    int calls = 0;
};

class BrokenRead : public FileLayer {
  public:
    ssize_t read(int, void*, size_t) override {
        errno = EIO;
        return -1;
    }
};

// -------------------------------------------------------------- set helpers

TprotoData schema(int32_t nStr, int32_t nInt, int32_t nFloat, int32_t nStrList, int32_t nIntList,
                  int32_t nFloatList) {
    TprotoData proto;
    proto.setData(nInt, nStr, nFloat);
    proto.setListData(nIntList, nStrList, nFloatList);
    return proto;
}

// What an element holds; lists head first.
struct Contents {
    sVector strs;
    iVector ints;
    fVector floats;
    std::vector<sVector> strLists;
    std::vector<iVector> intLists;
    bool operator==(const Contents&) const = default;
};

void PrintTo(const Contents& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.strs) << " " << ::testing::PrintToString(c.ints) << " "
        << ::testing::PrintToString(c.floats) << " " << ::testing::PrintToString(c.strLists) << " "
        << ::testing::PrintToString(c.intLists);
}

std::unique_ptr<TElem> makeElem(const TprotoData& proto, const Contents& c) {
    auto elem = std::make_unique<TElem>();
    elem->setProto(proto);
    for (size_t i = 0; i < c.strs.size(); ++i) elem->setStr(static_cast<int32_t>(i), c.strs[i]);
    for (size_t i = 0; i < c.ints.size(); ++i) elem->setInt(static_cast<int32_t>(i), c.ints[i]);
    for (size_t i = 0; i < c.floats.size(); ++i) {
        elem->setFloat(static_cast<int32_t>(i), c.floats[i]);
    }
    // Pushing the last item first leaves the first item at the head.
    for (size_t j = 0; j < c.strLists.size(); ++j) {
        for (auto it = c.strLists[j].rbegin(); it != c.strLists[j].rend(); ++it) {
            elem->addStrListItem(*it, static_cast<int32_t>(j));
        }
    }
    for (size_t j = 0; j < c.intLists.size(); ++j) {
        for (auto it = c.intLists[j].rbegin(); it != c.intLists[j].rend(); ++it) {
            elem->addIntListItem(*it, static_cast<int32_t>(j));
        }
    }
    return elem;
}

Contents contentsOf(const TElem& elem) {
    Contents c{elem.getStrs(), elem.getInts(), elem.getFloats(), {}, {}};
    for (int32_t j = 0; j < elem.nStrList; ++j) {
        int32_t count = 0;
        sVector items;
        elem.getStrList(j, count, items);
        c.strLists.push_back(items);
    }
    for (int32_t j = 0; j < elem.nIntList; ++j) {
        int32_t count = 0;
        iVector items;
        elem.getIntList(j, count, items);
        c.intLists.push_back(items);
    }
    return c;
}

Contents withListsReversed(Contents c) {
    for (auto& list : c.strLists) std::reverse(list.begin(), list.end());
    for (auto& list : c.intLists) std::reverse(list.begin(), list.end());
    return c;
}

// Owns a set for the length of a test.
struct SetRef {
    hashElemR* set = nullptr;
    SetRef() = default;
    explicit SetRef(hashElemR* s) : set(s) {}
    SetRef(const SetRef&) = delete;
    SetRef& operator=(const SetRef&) = delete;
    ~SetRef() {
        if (set != nullptr) destroyHashE(set);
    }
};

hashElemR* makeSet(int32_t size, int32_t data, const std::string& name, int32_t keyField,
                   const TprotoData& proto, const std::vector<Contents>& elems) {
    hashElemR* set = newHashElem(size, data, name, keyField);
    setProtoHashE(set, proto);
    for (const Contents& c : elems) addSHashE(makeElem(proto, c), set);
    return set;
}

const TElem* find(hashElemR* set, const std::string& key) {
    return getSHashElem(key, set->keyField, set);
}

void expectSameSchema(const TprotoData& a, const TprotoData& b) {
    EXPECT_EQ(a.nInt, b.nInt);
    EXPECT_EQ(a.nStr, b.nStr);
    EXPECT_EQ(a.nFloat, b.nFloat);
    EXPECT_EQ(a.nIntList, b.nIntList);
    EXPECT_EQ(a.nStrList, b.nStrList);
    EXPECT_EQ(a.nFloatList, b.nFloatList);
}

// One enciphered value line.
std::string cipherLine(const std::string& value, int32_t key = kKey) {
    return encryptStr(value, key) + kCrLf;
}

std::string joinLines(std::initializer_list<std::string> lines, const std::string& end = kCrLf) {
    std::string out;
    for (const std::string& line : lines) out += line + end;
    return out;
}

std::vector<std::string> splitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = bytes.find(kCrLf, start)) != std::string::npos; start = at + 2) {
        lines.push_back(bytes.substr(start, at - start));
    }
    EXPECT_EQ(start, bytes.size()) << "every line ends with CR LF";
    return lines;
}

// ------------------------------------------------------------------ fixture

class DataFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "contavio-datafiles-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setMessageSink(&sink_);
        setDecimalSeparator('.');
        hashErrMsg.clear();
        hashErrCode = ERR_OK;
    }

    void TearDown() override {
        setFileLayer(nullptr);
        setMessageSink(nullptr);
        setDecimalSeparator('.');
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    static std::string readBytes(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static void writeBytes(const std::string& file, const std::string& bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    static mode_t modeOf(const std::string& file) {
        struct stat info {};
        EXPECT_EQ(::stat(file.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    // The contact layout: eight strings and two string lists.
    static TprotoData contactSchema() { return schema(8, 0, 0, 2, 0, 0); }

    static Contents contact(const std::string& key, sVector phones, sVector mails) {
        return {{key, "n/a", "Calle 1", "", "3", "5", "http://x", "nota"},
                {},
                {},
                {std::move(phones), std::move(mails)},
                {}};
    }

    std::string dir_;
    RecordingSink sink_;
};

// ----------------------------------------------------------- writer layout

// Three buckets: "a" (97) and "d" (100) share bucket 1, where "d" arrived
// last and heads the chain; "b" (98) is alone in bucket 2.
TEST_F(DataFilesTest, WritesTheExactBytesOfASmallSet) {
    const TprotoData proto = schema(2, 1, 1, 1, 1, 1);
    const Contents a{{"a", ""}, {-7}, {2.5f}, {{"p2", "p1"}}, {{3, 2, 1}}};
    const Contents b{{"b", "x y"}, {0}, {-0.25f}, {{"m1"}}, {{}}};
    const Contents d{{"d", "Jos\xE9"}, {INT32_MAX}, {1.237f}, {{}}, {{INT32_MIN}}};
    SetRef set(makeSet(3, 7, "Contacto", 0, proto, {a, b, d}));

    saveCryptHashE(path("data.vlt"), set.set, kKey);

    std::string expected;
    for (const char* value : {"3", "7", "Contacto", "0", "2", "1", "1", "1", "1", "1"}) {
        expected += cipherLine(value);
    }
    expected += kCrLf;
    // d: strings, integer, float, string list (count, items), integer list, float list.
    expected += cipherLine("d") + cipherLine("Jos\xE9") + cipherLine("2147483647") +
                cipherLine("1.24") + cipherLine("0") + cipherLine("1") + cipherLine("-2147483648") +
                cipherLine("0") + kCrLf;
    expected += cipherLine("a") + kCrLf + cipherLine("-7") + cipherLine("2.50") + cipherLine("2") +
                cipherLine("p2") + cipherLine("p1") + cipherLine("3") + cipherLine("3") +
                cipherLine("2") + cipherLine("1") + cipherLine("0") + kCrLf;
    expected += cipherLine("b") + cipherLine("x y") + cipherLine("0") + cipherLine("-0.25") +
                cipherLine("1") + cipherLine("m1") + cipherLine("0") + cipherLine("0") + kCrLf;
    EXPECT_EQ(readBytes(path("data.vlt")), expected);
}

TEST_F(DataFilesTest, EmptySetIsTheHeaderAndOneSeparator) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);

    std::string expected;
    for (const char* value : {"0", "0", "Contacto", "0", "8", "0", "0", "2", "0", "0"}) {
        expected += cipherLine(value);
    }
    EXPECT_EQ(readBytes(path("data.vlt")), expected + kCrLf);

    SetRef loaded;
    loadCryptHashE(path("data.vlt"), loaded.set, kKey);
    ASSERT_NE(loaded.set, nullptr);
    EXPECT_EQ(loaded.set->size, 1);
    EXPECT_EQ(loaded.set->count, 0);
    EXPECT_EQ(loaded.set->name, "Contacto");
    expectSameSchema(*loaded.set->proto, contactSchema());
}

TEST_F(DataFilesTest, FloatsHaveTwoDecimalsInTheRegionalSeparator) {
    const TprotoData proto = schema(1, 0, 3, 0, 0, 0);
    SetRef set(makeSet(1, 0, "F", 0, proto, {{{"k"}, {}, {2.5f, 1.237f, -1234.5f}, {}, {}}}));

    setDecimalSeparator(',');
    saveCryptHashE(path("comma.vlt"), set.set, kKey);
    const std::vector<std::string> lines = splitCrLf(readBytes(path("comma.vlt")));
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(decryptStr(lines[12], kKey), "2,50");
    EXPECT_EQ(decryptStr(lines[13], kKey), "1,24");
    EXPECT_EQ(decryptStr(lines[14], kKey), "-1234,50");

    SetRef back;
    loadCryptHashE(path("comma.vlt"), back.set, kKey);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(find(back.set, "k")->getFloats(), (fVector{2.5f, 1.24f, -1234.5f}));

    setDecimalSeparator('.');
    saveCryptHashE(path("point.vlt"), set.set, kKey);
    EXPECT_EQ(decryptStr(splitCrLf(readBytes(path("point.vlt")))[12], kKey), "2.50");
}

TEST_F(DataFilesTest, CommaFileCannotBeReadUnderADecimalPoint) {
    const TprotoData proto = schema(1, 0, 1, 0, 0, 0);
    SetRef set(makeSet(1, 0, "F", 0, proto, {{{"k"}, {}, {2.5f}, {}, {}}}));
    setDecimalSeparator(',');
    saveCryptHashE(path("data.vlt"), set.set, kKey);

    setDecimalSeparator('.');
    SetRef back;
    try {
        loadCryptHashE(path("data.vlt"), back.set, kKey);
        FAIL() << "a comma float read under a decimal point";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'2,50' is not a valid floating point value");
    }
    // The set was made before the failing element: it stays, without it.
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 0);
}

TEST_F(DataFilesTest, ValuesThatAreNotFiniteOrHugeReadBack) {
    const TprotoData proto = schema(1, 0, 5, 0, 0, 0);
    const fVector values{INFINITY, -INFINITY, FLT_MAX, -FLT_MAX, 1e30f};
    SetRef set(makeSet(1, 0, "F", 0, proto, {{{"k"}, {}, values, {}, {}}}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    const std::vector<std::string> lines = splitCrLf(readBytes(path("data.vlt")));
    EXPECT_EQ(decryptStr(lines[12], kKey), "INF");
    EXPECT_EQ(decryptStr(lines[13], kKey), "-INF");

    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    EXPECT_EQ(find(back.set, "k")->getFloats(), values);

    fVector nan{NAN};
    SetRef nanSet(makeSet(1, 0, "F", 0, schema(1, 0, 1, 0, 0, 0), {{{"k"}, {}, nan, {}, {}}}));
    saveCryptHashE(path("nan.vlt"), nanSet.set, kKey);
    EXPECT_EQ(decryptStr(splitCrLf(readBytes(path("nan.vlt")))[12], kKey), "NAN");
    SetRef nanBack;
    loadCryptHashE(path("nan.vlt"), nanBack.set, kKey);
    EXPECT_TRUE(std::isnan(find(nanBack.set, "k")->getFloat(0)));
}

TEST_F(DataFilesTest, SavingOverAFileReplacesAllOfIt) {
    std::vector<Contents> many;
    for (int i = 0; i < 50; ++i) many.push_back(contact("k" + std::to_string(i), {"1", "2"}, {}));
    SetRef big(makeSet(256, 0, "Contacto", 0, contactSchema(), many));
    SetRef small(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("x", {}, {"m"})}));

    saveCryptHashE(path("data.vlt"), big.set, kKey);
    saveCryptHashE(path("data.vlt"), small.set, kKey);
    saveCryptHashE(path("fresh.vlt"), small.set, kKey);
    EXPECT_EQ(readBytes(path("data.vlt")), readBytes(path("fresh.vlt")));
}

TEST_F(DataFilesTest, LineBreaksInValuesStayOnOneLineAndComeBackShifted) {
    SetRef set(
        makeSet(1, 0, "S", 0, schema(2, 0, 0, 0, 0, 0), {{{"k", "a\r\nb"}, {}, {}, {}, {}}}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    EXPECT_EQ(splitCrLf(readBytes(path("data.vlt"))).size(), 14u);
    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    EXPECT_EQ(find(back.set, "k")->str(1),
              "a\xED\xEA"
              "b");
}

// ------------------------------------------------------------ reading back

TEST_F(DataFilesTest, ListsReverseOnEverySaveAndLoad) {
    const TprotoData proto = schema(1, 0, 0, 1, 1, 0);
    SetRef set(makeSet(5, 0, "L", 0, proto, {{{"k"}, {}, {}, {{"a", "b", "c"}}, {{1, 2, 3}}}}));

    saveCryptHashE(path("one.vlt"), set.set, kKey);
    SetRef once;
    loadCryptHashE(path("one.vlt"), once.set, kKey);
    EXPECT_EQ(contentsOf(*find(once.set, "k")),
              (Contents{{"k"}, {}, {}, {{"c", "b", "a"}}, {{3, 2, 1}}}));

    saveCryptHashE(path("two.vlt"), once.set, kKey);
    SetRef twice;
    loadCryptHashE(path("two.vlt"), twice.set, kKey);
    EXPECT_EQ(contentsOf(*find(twice.set, "k")),
              (Contents{{"k"}, {}, {}, {{"a", "b", "c"}}, {{1, 2, 3}}}));
}

TEST_F(DataFilesTest, LoadedSetHasTwiceAsManyBucketsPlusOneAndKeepsItsHeader) {
    std::vector<Contents> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(contact("c" + std::to_string(i), {}, {}));
    SetRef set(makeSet(256, 42, "Agenda \xD1", 3, contactSchema(), {}));
    // Key field 3 is the fourth string: give each element a distinct one there.
    for (Contents& c : ten) c.strs[3] = c.strs[0];
    for (const Contents& c : ten) addSHashE(makeElem(contactSchema(), c), set.set);
    hashErrMsg = "earlier warning";
    hashErrCode = ERR_NOT_FOUND;

    saveCryptHashE(path("data.vlt"), set.set, kKey);
    EXPECT_EQ(hashErrMsg, "earlier warning") << "the writer leaves the status pair alone";
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);

    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->size, 21);
    EXPECT_EQ(back.set->count, 10);
    EXPECT_EQ(back.set->data, 42);
    EXPECT_EQ(back.set->name, "Agenda \xD1");
    EXPECT_EQ(back.set->keyField, 3);
    expectSameSchema(*back.set->proto, contactSchema());
    EXPECT_EQ(hashErrMsg, "");
    EXPECT_EQ(hashErrCode, ERR_OK);
    for (const Contents& c : ten) {
        const TElem* elem = find(back.set, c.strs[3]);
        ASSERT_NE(elem, nullptr) << c.strs[3];
        EXPECT_EQ(contentsOf(*elem), c);
    }
}

TEST_F(DataFilesTest, EmptyStringsAndEmptyListsComeBackEmpty) {
    const Contents blank{{"", "", ""}, {0}, {0.0f}, {{}, {""}}, {{}}};
    SetRef set(makeSet(1, 0, "", 0, schema(3, 1, 1, 2, 1, 0), {blank}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->name, "");
    ASSERT_EQ(back.set->count, 1);
    EXPECT_EQ(contentsOf(*find(back.set, "")), blank);
}

TEST_F(DataFilesTest, ReadingAFileTwiceGivesTwoIndependentEqualSets) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {"1"}, {"m"})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    SetRef first, second;
    loadCryptHashE(path("data.vlt"), first.set, kKey);
    loadCryptHashE(path("data.vlt"), second.set, kKey);
    ASSERT_NE(first.set, second.set);
    EXPECT_EQ(contentsOf(*find(first.set, "Ana")), contentsOf(*find(second.set, "Ana")));
    delSHashE("Ana", 0, first.set);
    EXPECT_EQ(first.set->count, 0);
    EXPECT_NE(find(second.set, "Ana"), nullptr);
}

TEST_F(DataFilesTest, FileWithLineFeedsOnlyReadsLikeCrLf) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(),
                       {contact("Ana", {"1", "2"}, {"m"}), contact("Bea", {}, {})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    std::string bytes = readBytes(path("data.vlt"));
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
    writeBytes(path("lf.vlt"), bytes);
    bytes.resize(bytes.size() - 2);  // no separator, the last line without its end
    writeBytes(path("unended.vlt"), bytes);

    for (const char* name : {"lf.vlt", "unended.vlt"}) {
        SetRef back;
        loadCryptHashE(path(name), back.set, kKey);
        ASSERT_NE(back.set, nullptr) << name;
        EXPECT_EQ(back.set->count, 2) << name;
        EXPECT_EQ(contentsOf(*find(back.set, "Ana")),
                  withListsReversed(contact("Ana", {"1", "2"}, {"m"})));
    }
}

TEST_F(DataFilesTest, DuplicatedKeysCollapseToTheLastOne) {
    writeBytes(path("contact.txt"),
               joinLines({"3", "0",   "S", "0", "1",   "1", "0", "0",   "0", "0",
                          "",  "Ana", "1", "",  "Bea", "2", "",  "Ana", "3", ""}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->size, 7);
    EXPECT_EQ(back.set->count, 2);
    EXPECT_EQ(find(back.set, "Ana")->getInt(0), 3);
    EXPECT_EQ(find(back.set, "Bea")->getInt(0), 2);
}

// ------------------------------------------------------- reading damage

TEST_F(DataFilesTest, EmptyFileFailsAtTheFirstLineAndKeepsTheReference) {
    writeBytes(path("data.vlt"), "");
    SetRef held(newHashElem(4, 0, "held", 0));
    hashElemR* const before = held.set;
    try {
        loadCryptHashE(path("data.vlt"), held.set, kKey);
        FAIL() << "an empty file read";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_EQ(held.set, before);
    EXPECT_THROW(loadTextHashE(path("data.vlt"), held.set), ConvertError);
    EXPECT_EQ(held.set, before);
}

TEST_F(DataFilesTest, MissingFileShowsItsNameAndChangesNothing) {
    SetRef held;
    hashErrMsg = "earlier";
    hashErrCode = ERR_NOT_FOUND;
    loadCryptHashE(path("data.vlt"), held.set, kKey);
    loadTextHashE(path("contact.txt"), held.set);
    EXPECT_EQ(held.set, nullptr);
    EXPECT_EQ(sink_.shown, (std::vector<std::string>{"No se pudo abrir: " + path("data.vlt"),
                                                     "No se pudo abrir: " + path("contact.txt")}));
    EXPECT_EQ(hashErrMsg, "earlier");
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);
    EXPECT_TRUE(entries().empty()) << "reading creates no file";
}

TEST_F(DataFilesTest, RelativeMissingFileNamesItAsGiven) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    SetRef held;
    loadCryptHashE("data.vlt", held.set, kKey);
    fs::current_path(before);
    EXPECT_EQ(sink_.shown, std::vector<std::string>{"No se pudo abrir: data.vlt"});
}

TEST_F(DataFilesTest, WrongKeyEndsInAConversionError) {
    // Read one code lower, "1" turns into "0" and the tag "0" into "/".
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    SetRef back;
    try {
        loadCryptHashE(path("data.vlt"), back.set, kKey + 1);
        FAIL() << "read with the wrong key";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'/' is not a valid integer value");
    }
    EXPECT_EQ(back.set, nullptr);
    loadCryptHashE(path("data.vlt"), back.set, kKey + 224);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 1);
}

TEST_F(DataFilesTest, ConversionErrorLeavesTheElementsReadBefore) {
    writeBytes(path("contact.txt"),
               joinLines({"3", "0",   "S", "0", "1",   "1",   "0", "0",   "0", "0",
                          "",  "Ana", "1", "",  "Bea", "12a", "",  "Cid", "3", ""}));
    hashErrMsg = "earlier";
    hashErrCode = ERR_NOT_FOUND;
    SetRef back;
    try {
        loadTextHashE(path("contact.txt"), back.set);
        FAIL() << "a bad integer read";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
    EXPECT_EQ(hashErrMsg, "earlier");
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->size, 7);
    EXPECT_EQ(back.set->count, 1);
    EXPECT_NE(find(back.set, "Ana"), nullptr);
}

TEST_F(DataFilesTest, IntegersTakeOneSignAndDigitsWithin32Bits) {
    const std::vector<std::pair<std::string, int32_t>> good = {{"0", 0},
                                                               {"42", 42},
                                                               {"-7", -7},
                                                               {"+5", 5},
                                                               {"007", 7},
                                                               {"-0", 0},
                                                               {"2147483647", INT32_MAX},
                                                               {"-2147483648", INT32_MIN}};
    for (const auto& [text, value] : good) {
        writeBytes(path("t.txt"), joinLines({"0", text, "S", "0", "0", "0", "0", "0", "0", "0"}));
        SetRef back;
        loadTextHashE(path("t.txt"), back.set);
        ASSERT_NE(back.set, nullptr) << text;
        EXPECT_EQ(back.set->data, value) << text;
    }
    for (const std::string text : {"", " 5", "5 ", "\t5", "2147483648", "-2147483649", "0x10",
                                   "1e3", "-", "+", "+-1", "--1", "1.0", "$10", "5\xA0"}) {
        writeBytes(path("t.txt"), joinLines({"0", text, "S", "0", "0", "0", "0", "0", "0", "0"}));
        SetRef back;
        try {
            loadTextHashE(path("t.txt"), back.set);
            ADD_FAILURE() << "'" << text << "' read as an integer";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.what(), "'" + text + "' is not a valid integer value");
        }
        EXPECT_EQ(back.set, nullptr);
    }
}

TEST_F(DataFilesTest, FloatsReadWithTheRegionalSeparatorOnly) {
    auto readFloat = [&](const std::string& text) {
        writeBytes(path("f.txt"), joinLines({"1", "0", "S", "0", "1", "0", "1", "0", "0", "0", "",
                                             "k", text, ""}));
        SetRef back;
        loadTextHashE(path("f.txt"), back.set);
        return find(back.set, "k")->getFloat(0);
    };
    auto expectRejected = [&](const std::string& text) {
        try {
            readFloat(text);
            ADD_FAILURE() << "'" << text << "' read as a float";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.what(), "'" + text + "' is not a valid floating point value");
        }
    };
    EXPECT_EQ(readFloat("2.50"), 2.5f);
    EXPECT_EQ(readFloat("-0.25"), -0.25f);
    EXPECT_EQ(readFloat("+3"), 3.0f);
    EXPECT_EQ(readFloat(".5"), 0.5f);
    EXPECT_EQ(readFloat("1.5e2"), 150.0f);
    EXPECT_EQ(readFloat("0.1"), 0.1f) << "the nearest 32-bit float";
    for (const char* text : {"2,50", "", " 1.5", "1.5 ", ".", "1.5.0", "abc", "1e", "nan", "inf"}) {
        expectRejected(text);
    }

    setDecimalSeparator(',');
    EXPECT_EQ(readFloat("2,50"), 2.5f);
    EXPECT_EQ(readFloat("2"), 2.0f) << "an integer-looking line has no separator to differ";
    expectRejected("2.50");
}

TEST_F(DataFilesTest, ReadingAFolderFailsWithTheSystemsMessage) {
    fs::create_directory(path("data.vlt"));
    SetRef back;
    try {
        loadCryptHashE(path("data.vlt"), back.set, kKey);
        FAIL() << "a folder read";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), std::strerror(EISDIR));
    }
    EXPECT_EQ(back.set, nullptr);
    EXPECT_TRUE(sink_.shown.empty());
}

TEST_F(DataFilesTest, FailingReadFailsWithTheSystemsMessage) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    BrokenRead broken;
    setFileLayer(&broken);
    SetRef back;
    try {
        loadCryptHashE(path("data.vlt"), back.set, kKey);
        FAIL() << "a broken disk read";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), std::strerror(EIO));
    }
    EXPECT_EQ(back.set, nullptr);
}

// Lines split across reads at every possible place, CR LF pairs included.
TEST_F(DataFilesTest, ShortAndInterruptedReadsReadTheSame) {
    SetRef set(makeSet(
        256, 0, "Contacto", 0, contactSchema(),
        {contact("Ana", {"1", "2"}, {"m"}), contact("Bea", {}, {"x"}), contact("Cid", {"3"}, {})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    writeBytes(path("contact.txt"), joinLines({"1", "0", "S", "0", "2", "0", "0", "1", "0", "0", "",
                                               "Ana", "\ra\rb", "2", "\rx", "it", ""},
                                              "\n"));

    ShortReads slow;
    setFileLayer(&slow);
    SetRef crypt, text;
    loadCryptHashE(path("data.vlt"), crypt.set, kKey);
    loadTextHashE(path("contact.txt"), text.set);
    setFileLayer(nullptr);
    EXPECT_GT(slow.calls, 50);

    ASSERT_NE(crypt.set, nullptr);
    EXPECT_EQ(crypt.set->count, 3);
    for (const char* key : {"Ana", "Bea", "Cid"}) {
        EXPECT_EQ(contentsOf(*find(crypt.set, key)),
                  withListsReversed(contentsOf(*find(set.set, key))))
            << key;
    }
    ASSERT_NE(text.set, nullptr);
    // Read back, the items come newest first.
    EXPECT_EQ(contentsOf(*find(text.set, "Ana")),
              (Contents{{"Ana", "\ra\rb"}, {}, {}, {{"it", "\rx"}}, {}}));
}

TEST_F(DataFilesTest, ValueLongerThanAReadBlockComesBack) {
    std::mt19937 rng(77);
    std::string huge(3u << 20, ' ');
    for (char& c : huge) c = static_cast<char>(32 + rng() % 224);
    std::vector<Contents> elems{contact("Big", {huge, "small"}, {})};
    elems[0].strs[7] = huge;
    for (int i = 0; i < 2000; ++i) elems.push_back(contact("k" + std::to_string(i), {"1"}, {}));
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), elems));
    saveCryptHashE(path("data.vlt"), set.set, kKey);

    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 2001);
    for (const Contents& c : elems) {
        const TElem* elem = find(back.set, c.strs[0]);
        ASSERT_NE(elem, nullptr);
        ASSERT_EQ(contentsOf(*elem), withListsReversed(c));
    }
}

// A file cut after any of its lines ends in the conversion error for an empty
// text or in a damage report; only the last separator may go missing.
TEST_F(DataFilesTest, FileCutAfterAnyLineNeverLoadsHalfAnElement) {
    const TprotoData proto = schema(2, 1, 0, 1, 0, 0);
    // Bucket order 0, 1, 2 ("c" 99, "a" 97, "b" 98 under 3 buckets): the last
    // block, "b", ends with an empty list, so its last value line is a count.
    SetRef set(makeSet(3, 0, "T", 0, proto,
                       {{{"a", "x"}, {1}, {}, {{"i1", "i2"}}, {}},
                        {{"b", ""}, {-2}, {}, {{}}, {}},
                        {{"c", "z"}, {3}, {}, {{"j"}}, {}}}));
    saveCryptHashE(path("full.vlt"), set.set, kKey);
    const std::vector<std::string> lines = splitCrLf(readBytes(path("full.vlt")));
    ASSERT_EQ(lines.size(), 11u + 7 + 5 + 6);

    for (size_t kept = 0; kept < lines.size(); ++kept) {
        std::string bytes;
        for (size_t i = 0; i < kept; ++i) bytes += lines[i] + kCrLf;
        writeBytes(path("cut.vlt"), bytes);
        SetRef back;
        try {
            loadCryptHashE(path("cut.vlt"), back.set, kKey);
            EXPECT_EQ(kept, lines.size() - 1) << "a file of " << kept << " lines loaded";
            ASSERT_NE(back.set, nullptr);
            EXPECT_EQ(back.set->count, 3);
        } catch (const ConvertError& e) {
            EXPECT_STREQ(e.what(), "'' is not a valid integer value") << kept;
        } catch (const DamagedFileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("El archivo " + path("cut.vlt"), 0), 0u);
        }
    }
}

// A book cut short anywhere, as a crash of a writer that wrote in place
// leaves it, yields every contact whose block ends before the cut.
TEST_F(DataFilesTest, BookCutAnywhereYieldsEveryWholeContactBeforeTheCut) {
    std::vector<Contents> many;
    for (int i = 0; i < 300; ++i) many.push_back(contact("k" + std::to_string(i), {"1", "2"}, {}));
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), many));
    saveCryptHashE(path("full.vlt"), set.set, kKey);
    const std::vector<std::string> lines = splitCrLf(readBytes(path("full.vlt")));
    constexpr size_t kHeader = 11;
    constexpr size_t kBlock = 13;  // 8 strings, 1 + 2 list lines, 1 count, separator
    ASSERT_EQ(lines.size(), kHeader + 300 * kBlock);

    for (const int percent : {2, 10, 50, 90, 99}) {
        const size_t kept = lines.size() * static_cast<size_t>(percent) / 100;
        std::string bytes;
        for (size_t i = 0; i < kept; ++i) bytes += lines[i] + kCrLf;
        writeBytes(path("cut.vlt"), bytes);
        // A block counts once its last value line (before the separator) is in.
        const size_t whole = kept < kHeader ? 0 : (kept - kHeader + 1) / kBlock;
        SetRef back;
        EXPECT_THROW(loadCryptHashE(path("cut.vlt"), back.set, kKey), std::runtime_error)
            << percent;
        ASSERT_NE(back.set, nullptr) << percent << "%: no set";
        EXPECT_EQ(back.set->count, static_cast<int32_t>(whole)) << percent << "%";
        EXPECT_EQ(back.set->size, 2 * 300 + 1) << "the table the header asks for";
    }
}

// Cut at any byte: a load succeeds or throws one of the store's errors, and
// never reads outside what it holds (the sanitizer build checks that).
TEST_F(DataFilesTest, FileCutAtAnyByteFailsCleanly) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(),
                       {contact("Ana", {"1", "2"}, {"m"}), contact("Bea", {}, {"x"})}));
    saveCryptHashE(path("full.vlt"), set.set, kKey);
    const std::string bytes = readBytes(path("full.vlt"));
    int failures = 0;
    for (size_t size = 0; size < bytes.size(); ++size) {
        writeBytes(path("cut.vlt"), bytes.substr(0, size));
        SetRef back;
        try {
            loadCryptHashE(path("cut.vlt"), back.set, kKey);
            ASSERT_NE(back.set, nullptr);
            EXPECT_LE(back.set->count, 2);
        } catch (const ConvertError&) {
            ++failures;
        } catch (const DamagedFileError&) {
            ++failures;
        }
    }
    EXPECT_GT(failures, static_cast<int>(bytes.size()) / 2);
}

TEST_F(DataFilesTest, ImpossibleHeadersAreReportedAsDamageBeforeAnySetIsMade) {
    const std::string body = joinLines({"", "Ana", "1", "", "Bea", "2", ""});
    struct Case {
        std::vector<std::string> header;  // lines 1 to 10
        std::string why;
    };
    const std::vector<Case> cases = {
        {{"-1", "0", "S", "0", "1", "1", "0", "0", "0", "0"}, "negative element count"},
        {{"2", "0", "S", "0", "-1", "1", "0", "0", "0", "0"}, "negative string count"},
        {{"0", "0", "S", "0", "1", "1", "0", "0", "0", "-3"}, "negative count, empty set"},
        {{"2000000000", "0", "S", "0", "1", "1", "0", "0", "0", "0"}, "absurd element count"},
        {{"2147483647", "0", "S", "0", "0", "0", "0", "0", "0", "0"}, "2n + 1 overflows"},
        {{"2", "0", "S", "0", "2000000000", "1", "0", "0", "0", "0"}, "absurd string count"},
        {{"1", "0", "S", "0", "1", "0", "0", "0", "2147483647", "2147483647"}, "counts overflow"},
        {{"2", "0", "S", "0", "1", "1", "0", "0", "0", "50"}, "a block longer than the file"},
        {{"2", "0", "S", "5", "1", "1", "0", "0", "0", "0"}, "key field past the strings"},
        {{"2", "0", "S", "-1", "1", "1", "0", "0", "0", "0"}, "negative key field"},
    };
    for (const Case& c : cases) {
        std::string bytes;
        for (const std::string& line : c.header) bytes += line + kCrLf;
        writeBytes(path("contact.txt"), bytes + body);
        SetRef held(newHashElem(1, 0, "held", 0));
        hashElemR* const before = held.set;
        try {
            loadTextHashE(path("contact.txt"), held.set);
            ADD_FAILURE() << c.why << ": read";
        } catch (const DamagedFileError& e) {
            const std::string what = e.what();
            const std::string start = "El archivo " + path("contact.txt") + kIsDamaged;
            EXPECT_EQ(what.rfind(start, 0), 0u) << what;
        }
        EXPECT_EQ(held.set, before) << c.why;
        EXPECT_TRUE(sink_.shown.empty()) << c.why;
    }
}

TEST_F(DataFilesTest, EmptySetMayNameAnyKeyField) {
    // An empty set keyed by an integer field: nothing needs the key to read it.
    writeBytes(path("contact.txt"), joinLines({"0", "0", "S", "4", "1", "5", "0", "0", "0", "0"}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->keyField, 4);
}

TEST_F(DataFilesTest, ListCountBeyondTheFileIsDamageAfterTheElementsBefore) {
    writeBytes(path("contact.txt"), joinLines({"2", "0", "S", "0", "1", "0", "0", "1", "0", "0", "",
                                               "Ana", "1", "p", "", "Bea", "1000000000", "q", ""}));
    SetRef back;
    EXPECT_THROW(loadTextHashE(path("contact.txt"), back.set), DamagedFileError);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 1);
    EXPECT_NE(find(back.set, "Ana"), nullptr);
}

TEST_F(DataFilesTest, NegativeListCountReadsNoItems) {
    writeBytes(path("contact.txt"),
               joinLines({"1", "0", "S", "0", "1", "0", "0", "1", "0", "0", "", "Ana", "-3", ""}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    EXPECT_EQ(contentsOf(*find(back.set, "Ana")), (Contents{{"Ana"}, {}, {}, {{}}, {}}));
}

// ------------------------------------------------------------- legacy file

TEST_F(DataFilesTest, LegacyFileGivesListsNewestFirstAndKeepsBlanks) {
    writeBytes(path("contact.txt"),
               joinLines({"1", "5", "Contacto", "0",      "8",       "0",  "0", "2", "0",
                          "0", "",  "Ana Ruiz", "  lead", "trail  ", "",   "x", "y", "z",
                          "w", "2", "p1",       "p2",     "1",       "m1", ""}));
    hashErrMsg = "earlier";
    hashErrCode = ERR_NOT_FOUND;
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->size, 3);
    EXPECT_EQ(back.set->data, 5);
    EXPECT_EQ(hashErrMsg, "");
    EXPECT_EQ(hashErrCode, ERR_OK);
    EXPECT_EQ(contentsOf(*find(back.set, "Ana Ruiz")),
              (Contents{{"Ana Ruiz", "  lead", "trail  ", "", "x", "y", "z", "w"},
                        {},
                        {},
                        {{"p2", "p1"}, {"m1"}},
                        {}}));
}

TEST_F(DataFilesTest, LegacySeparatorTextAndTrailingTextAreIgnored) {
    writeBytes(path("contact.txt"),
               joinLines({"2",   "0", "S",  "0",           "1",   "1", "0",
                          "0",   "0", "0",  "header note", "Ana", "1", "not a separator",
                          "Bea", "2", "--", "Cid",         "3",   "",  "junk"}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 2);
    EXPECT_EQ(find(back.set, "Bea")->getInt(0), 2);
    EXPECT_EQ(find(back.set, "Cid"), nullptr);
}

TEST_F(DataFilesTest, LegacyFloatListsAreAnnouncedAndDropped) {
    writeBytes(path("contact.txt"),
               joinLines({"2",   "0", "S", "0", "1",   "0",   "0", "0",   "1", "1", "",
                          "Ana", "1", "7", "2", "1.5", "2.5", "",  "Bea", "0", "0", ""}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(sink_.shown, (std::vector<std::string>{kFloatNotice, kFloatNotice}));
    EXPECT_EQ(contentsOf(*find(back.set, "Ana")), (Contents{{"Ana"}, {}, {}, {}, {{7}}}));
    EXPECT_EQ(find(back.set, "Bea")->nFloatList, 1);
}

TEST_F(DataFilesTest, LegacyLineEndsLfCrLfAndAnUnendedLastLine) {
    const std::initializer_list<std::string> lines = {"1", "0", "S", "0",   "2",    "0", "0",  "1",
                                                      "0", "0", "",  "Ana", "a\rb", "1", "it", ""};
    writeBytes(path("crlf.txt"), joinLines(lines));
    writeBytes(path("lf.txt"), joinLines(lines, "\n"));
    std::string unended = joinLines(lines, "\n");
    unended.resize(unended.size() - 2);  // no separator, and "it" without its end
    writeBytes(path("unended.txt"), unended);
    writeBytes(path("cr.txt"), unended + "\r");
    // A CR that no LF follows is text, in the middle of a line and at the end of the file.
    for (const char* name : {"crlf.txt", "lf.txt", "unended.txt", "cr.txt"}) {
        SetRef back;
        loadTextHashE(path(name), back.set);
        ASSERT_NE(back.set, nullptr) << name;
        const std::string item = std::string(name) == "cr.txt" ? "it\r" : "it";
        EXPECT_EQ(contentsOf(*find(back.set, "Ana")),
                  (Contents{{"Ana", "a\rb"}, {}, {}, {{item}}, {}}))
            << name;
    }
}

TEST_F(DataFilesTest, LegacyHeaderOnlyGivesAnEmptySet) {
    writeBytes(path("contact.txt"),
               joinLines({"0", "9", "Contacto", "0", "8", "0", "0", "2", "0", "0"}));
    SetRef back;
    loadTextHashE(path("contact.txt"), back.set);
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->size, 1);
    EXPECT_EQ(back.set->count, 0);
    EXPECT_EQ(back.set->data, 9);
    expectSameSchema(*back.set->proto, contactSchema());
}

// ----------------------------------------------------------- atomic saving

class FailedSaveTest : public DataFilesTest {
  protected:
    void SetUp() override {
        DataFilesTest::SetUp();
        old_ = std::make_unique<SetRef>(
            makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Old", {"1"}, {})}));
        saveCryptHashE(path("data.vlt"), old_->set, kKey);
        oldBytes_ = readBytes(path("data.vlt"));
        std::vector<Contents> many;
        for (int i = 0; i < 30000; ++i) {
            many.push_back(contact("New " + std::to_string(i), {"555 0101"}, {"n@example.org"}));
        }
        new_ = std::make_unique<SetRef>(makeSet(256, 0, "Contacto", 0, contactSchema(), many));
    }

    void expectOldFileIntact() {
        EXPECT_EQ(readBytes(path("data.vlt")), oldBytes_);
        EXPECT_EQ(entries(), std::set<std::string>{"data.vlt"}) << "no temporary file left";
    }

    void expectSaveFails(int error) {
        try {
            saveCryptHashE(path("data.vlt"), new_->set, kKey);
            ADD_FAILURE() << "the save went through";
        } catch (const FileError& e) {
            EXPECT_STREQ(e.what(), std::strerror(error));
        }
        setFileLayer(nullptr);
        expectOldFileIntact();
    }

    std::unique_ptr<SetRef> old_, new_;
    std::string oldBytes_;
};

TEST_F(FailedSaveTest, FullDiskAtTheFirstWriteKeepsTheOldFile) {
    FullDisk disk(0);
    setFileLayer(&disk);
    expectSaveFails(ENOSPC);
}

TEST_F(FailedSaveTest, FullDiskAfterSomeBlocksKeepsTheOldFile) {
    FullDisk disk(1);  // the set takes several blocks
    setFileLayer(&disk);
    expectSaveFails(ENOSPC);
}

TEST_F(FailedSaveTest, FailedSyncKeepsTheOldFile) {
    BrokenSync sync;
    setFileLayer(&sync);
    expectSaveFails(EIO);
}

TEST_F(FailedSaveTest, FailedRenameKeepsTheOldFile) {
    CrossDeviceRename rename;
    setFileLayer(&rename);
    expectSaveFails(EXDEV);
}

TEST_F(FailedSaveTest, ShortAndInterruptedWritesStillWriteEverything) {
    ShortWrites slow;
    setFileLayer(&slow);
    SetRef small(makeSet(256, 0, "Contacto", 0, contactSchema(),
                         {contact("Ana", {"1", "2"}, {"a@b"}), contact("Bea", {}, {})}));
    saveCryptHashE(path("slow.vlt"), small.set, kKey);
    setFileLayer(nullptr);
    saveCryptHashE(path("fast.vlt"), small.set, kKey);
    EXPECT_GT(slow.calls, 20);
    EXPECT_EQ(readBytes(path("slow.vlt")), readBytes(path("fast.vlt")));
}

TEST_F(FailedSaveTest, TargetThatIsAFolderIsRefused) {
    fs::create_directory(path("folder.vlt"));
    try {
        saveCryptHashE(path("folder.vlt"), new_->set, kKey);
        FAIL() << "saved over a folder";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), std::strerror(EISDIR));
    }
    EXPECT_TRUE(fs::is_directory(path("folder.vlt")));
    EXPECT_TRUE(fs::is_empty(path("folder.vlt")));
    EXPECT_EQ(entries(), (std::set<std::string>{"data.vlt", "folder.vlt"}));
}

TEST_F(FailedSaveTest, MissingFolderIsRefused) {
    try {
        saveCryptHashE(path("nowhere/data.vlt"), new_->set, kKey);
        FAIL() << "saved into a missing folder";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), std::strerror(ENOENT));
    }
    expectOldFileIntact();
}

TEST_F(FailedSaveTest, LinkToNothingIsRefusedAndKept) {
    fs::create_symlink(path("gone.vlt"), path("link.vlt"));
    try {
        saveCryptHashE(path("link.vlt"), new_->set, kKey);
        FAIL() << "saved through a dangling link";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), std::strerror(ENOENT));
    }
    EXPECT_TRUE(fs::is_symlink(path("link.vlt")));
    EXPECT_EQ(entries(), (std::set<std::string>{"data.vlt", "link.vlt"}));
}

TEST_F(DataFilesTest, SavingThroughALinkReplacesTheFileItNames) {
    fs::create_directory(path("real"));
    writeBytes(path("real/data.vlt"), "old");
    ::chmod(path("real/data.vlt").c_str(), 0640);
    fs::create_symlink("real/data.vlt", path("data.vlt"));
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));

    saveCryptHashE(path("data.vlt"), set.set, kKey);
    saveCryptHashE(path("plain.vlt"), set.set, kKey);
    EXPECT_TRUE(fs::is_symlink(path("data.vlt")));
    EXPECT_EQ(readBytes(path("real/data.vlt")), readBytes(path("plain.vlt")));
    EXPECT_EQ(modeOf(path("real/data.vlt")), 0640u);
    EXPECT_EQ(entries(), (std::set<std::string>{"data.vlt", "plain.vlt", "real"}));
}

TEST_F(DataFilesTest, NewFileIsPrivateWhateverTheUmask) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
        const std::string name = path("new" + std::to_string(mask) + ".vlt");
        const mode_t before = ::umask(mask);
        saveCryptHashE(name, set.set, kKey);
        ::umask(before);
        EXPECT_EQ(modeOf(name), 0600u) << "umask " << mask;
    }
}

TEST_F(DataFilesTest, ExistingFileKeepsItsMode) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    for (const mode_t mode : {mode_t{0640}, mode_t{0604}, mode_t{0400}}) {
        writeBytes(path("data.vlt"), "old");
        ASSERT_EQ(::chmod(path("data.vlt").c_str(), mode), 0);
        saveCryptHashE(path("data.vlt"), set.set, kKey);
        EXPECT_EQ(modeOf(path("data.vlt")), mode);
        EXPECT_NE(readBytes(path("data.vlt")), "old");
    }
}

TEST_F(DataFilesTest, TemporaryFileIsPrivateAndBesideTheTarget) {
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    WatchedRename watch;
    setFileLayer(&watch);
    const mode_t before = ::umask(0);
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    ::umask(before);
    const std::string prefix = path(".data.vlt.tmp-");
    EXPECT_EQ(watch.from.rfind(prefix, 0), 0u) << watch.from;
    EXPECT_EQ(watch.from.size(), prefix.size() + 6);
    EXPECT_EQ(watch.to, path("data.vlt"));
    EXPECT_EQ(watch.mode, 0600u);
    EXPECT_EQ(entries(), std::set<std::string>{"data.vlt"});
}

TEST_F(DataFilesTest, StaleTemporaryFilesOfTheTargetAreRemoved) {
    for (const char* name : {".data.vlt.tmp-Ab12Cd", ".data.vlt.tmp-zzzzzz", ".other.tmp-Ab12Cd",
                             ".data.vlt.tmp-toolong", "data.vlt.bak"}) {
        writeBytes(path(name), "left over");
    }
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    saveCryptHashE(path("data.vlt"), set.set, kKey);
    EXPECT_EQ(entries(), (std::set<std::string>{"data.vlt", ".other.tmp-Ab12Cd",
                                                ".data.vlt.tmp-toolong", "data.vlt.bak"}));
}

TEST_F(DataFilesTest, RelativeNameSavesInTheWorkingFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    SetRef set(makeSet(256, 0, "Contacto", 0, contactSchema(), {contact("Ana", {}, {})}));
    saveCryptHashE("data.vlt", set.set, kKey);
    SetRef back;
    loadCryptHashE("data.vlt", back.set, kKey);
    fs::current_path(before);
    EXPECT_EQ(entries(), std::set<std::string>{"data.vlt"});
    ASSERT_NE(back.set, nullptr);
    EXPECT_EQ(back.set->count, 1);
}

// ------------------------------------------------------------ round trips

// Random sets of random schemas, saved and loaded twice: one load reverses
// every list, the second restores it; everything else comes back as it was.
TEST_F(DataFilesTest, RandomSetsComeBackAfterTwoRoundTrips) {
    NoSync fast;
    setFileLayer(&fast);
    std::mt19937 rng(1234567);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto text = [&](int maxLength) {
        std::string s(static_cast<size_t>(pick(0, maxLength)), ' ');
        for (char& c : s) c = static_cast<char>(pick(32, 255));
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        const TprotoData proto =
            schema(pick(1, 4), pick(0, 3), pick(0, 2), pick(0, 2), pick(0, 2), pick(0, 1));
        const int32_t keyField = pick(0, proto.nStr - 1);
        std::vector<Contents> elems;
        std::set<std::string> keys;
        for (int n = pick(0, 12); n > 0; --n) {
            Contents c;
            for (int i = 0; i < proto.nStr; ++i) c.strs.push_back(text(30));
            if (!keys.insert(c.strs[static_cast<size_t>(keyField)]).second) continue;
            for (int i = 0; i < proto.nInt; ++i) {
                c.ints.push_back(static_cast<int32_t>(rng()));
            }
            for (int i = 0; i < proto.nFloat; ++i) c.floats.push_back(pick(-400000, 400000) / 4.0f);
            for (int j = 0; j < proto.nStrList; ++j) {
                c.strLists.emplace_back();
                for (int m = pick(0, 4); m > 0; --m) c.strLists.back().push_back(text(12));
            }
            for (int j = 0; j < proto.nIntList; ++j) {
                c.intLists.emplace_back();
                for (int m = pick(0, 4); m > 0; --m) {
                    c.intLists.back().push_back(static_cast<int32_t>(rng()));
                }
            }
            elems.push_back(c);
        }
        const int32_t data = static_cast<int32_t>(rng());
        const std::string name = text(20);
        SetRef original(makeSet(pick(1, 40), data, name, keyField, proto, elems));
        setDecimalSeparator(round % 2 == 0 ? '.' : ',');

        hashElemR* current = original.set;
        SetRef loads[2];
        for (int pass = 0; pass < 2; ++pass) {
            sink_.shown.clear();
            saveCryptHashE(path("data.vlt"), current, kKey);
            loadCryptHashE(path("data.vlt"), loads[pass].set, kKey);
            hashElemR* back = loads[pass].set;
            ASSERT_NE(back, nullptr);
            ASSERT_EQ(back->count, static_cast<int32_t>(elems.size())) << "round " << round;
            EXPECT_EQ(back->size, 2 * back->count + 1);
            EXPECT_EQ(back->data, data);
            EXPECT_EQ(back->name, name);
            EXPECT_EQ(back->keyField, keyField);
            expectSameSchema(*back->proto, proto);
            EXPECT_EQ(sink_.shown.size(), elems.size() * static_cast<size_t>(proto.nFloatList));
            for (const Contents& c : elems) {
                const TElem* elem = find(back, c.strs[static_cast<size_t>(keyField)]);
                ASSERT_NE(elem, nullptr) << "round " << round;
                ASSERT_EQ(contentsOf(*elem), pass == 0 ? withListsReversed(c) : c)
                    << "round " << round << " pass " << pass;
            }
            current = back;
        }
    }
}

}  // namespace
}  // namespace contavio

namespace contavio {
namespace {

// A book large enough to be read and written on a second thread: the file is
// the one a plain writer makes, and every element comes back with its lists
// reversed, whether or not a second thread was there to do the work.
TEST_F(DataFilesTest, LargeSetsComeBackWholeAndFileBytesMatchAPlainWriter) {
    NoSync fast;
    setFileLayer(&fast);
    const TprotoData proto = schema(3, 1, 0, 1, 1, 0);
    std::vector<Contents> elems;
    for (int i = 0; i < 60000; ++i) {
        Contents c;
        c.strs = {"clave " + std::to_string(i),
                  "Mar\xED"
                  "a Garc\xED"
                  "a " +
                      std::to_string(i % 977),
                  std::string(static_cast<size_t>(i % 90), static_cast<char>('a' + i % 26))};
        c.ints = {i * 7 - 30000};
        c.strLists = {{}};
        for (int m = 0; m < i % 4; ++m) c.strLists[0].push_back("t" + std::to_string(i + m));
        c.intLists = {{}};
        for (int m = 0; m < i % 3; ++m) c.intLists[0].push_back(i - m);
        elems.push_back(c);
    }
    SetRef original(makeSet(1009, 5, "Libro", 0, proto, elems));
    saveCryptHashE(path("data.vlt"), original.set, kKey);
    const std::string bytes = readBytes(path("data.vlt"));
    ASSERT_GT(bytes.size(), size_t{4} << 20);

    // The same file, written line by line in chain order with encryptStr.
    std::string plain;
    const auto line = [&](const std::string& text) { plain += encryptStr(text, kKey) + "\r\n"; };
    const auto separator = [&] { plain += "\r\n"; };
    for (const std::string& v :
         {std::string("60000"), std::string("5"), std::string("Libro"), std::string("0"),
          std::string("3"), std::string("1"), std::string("0"), std::string("1"), std::string("1"),
          std::string("0")}) {
        line(v);
    }
    separator();
    for (const auto& head : original.set->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const Contents c = contentsOf(*node->elem);
            for (const std::string& s : c.strs) line(s);
            line(std::to_string(c.ints[0]));
            line(std::to_string(c.strLists[0].size()));
            for (const std::string& s : c.strLists[0]) line(s);
            line(std::to_string(c.intLists[0].size()));
            for (const int32_t v : c.intLists[0]) line(std::to_string(v));
            separator();
        }
    }
    ASSERT_EQ(bytes.size(), plain.size());
    EXPECT_TRUE(bytes == plain);

    SetRef back;
    loadCryptHashE(path("data.vlt"), back.set, kKey);
    ASSERT_NE(back.set, nullptr);
    ASSERT_EQ(countHashE(back.set), 60000);
    for (const Contents& c : elems) {
        const TElem* elem = find(back.set, c.strs[0]);
        ASSERT_NE(elem, nullptr) << c.strs[0];
        ASSERT_EQ(contentsOf(*elem), withListsReversed(c)) << c.strs[0];
    }
}

}  // namespace
}  // namespace contavio
