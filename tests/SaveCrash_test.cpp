// A save killed at any moment must leave data.vlt whole: either the book as
// it was before that save or the book being saved, never a mix or a torn
// file. A child process saves two different books over and over and is killed
// with SIGKILL at random moments; after each kill the file is read back. A
// killed save may leave its temporary file behind; the next save removes it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/Constantes.h"
#include "engine/Elemento.h"
#include "engine/Platform.h"
#include "engine/UhashElem.h"
#include "engine/protoData.h"
#include "persistence/DataFiles.h"

namespace contavio {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A book of a few megabytes in the optimised build; a smaller one where the
// sanitizers slow every byte down. The number of kills stays the same.
constexpr int kContacts = kSanitized ? 2000 : 20000;
constexpr int kKills = 60;
constexpr int32_t kKey = 853;
const std::string kMarkerKey = "~marca";

// Which of the two books a set is, told apart by the set's tag, the marker
// contact's field 1 and the number of contacts.
enum class Book { A, B };

hashElemR* makeBook(Book which) {
    TprotoData proto;
    proto.setData(0, 8, 0);
    proto.setListData(0, 2, 0);
    hashElemR* set = newHashElem(4099, which == Book::A ? 1 : 2, "Contacto", 0);
    setProtoHashE(set, proto);

    auto add = [&](const std::vector<std::string>& fields, int phones) {
        auto e = std::make_unique<TElem>();
        e->setProto(proto);
        for (int i = 0; i < 8; ++i) e->setStr(i, fields[static_cast<size_t>(i)]);
        for (int p = 0; p < phones; ++p) {
            e->addStrListItem("+34 91 555 " + std::to_string(1000 + p), 0);
        }
        e->addStrListItem(fields[1] + "@correo.example", 1);
        addSHashE(std::move(e), set);
    };
    const std::string tag = which == Book::A ? "A" : "B";
    for (int i = 0; i < kContacts; ++i) {
        const std::string n = std::to_string(i);
        add({"Nombre" + n + "Apellido" + n, "Nombre" + n, "Apellido" + n,
             "Calle Mayor " + n + ", Madrid", "http://example.com/" + n, std::to_string(1 + i % 28),
             std::to_string(1 + i % 12), "Notas de la versi\xF3n " + tag + " del contacto " + n},
            1 + i % 3);
    }
    add({kMarkerKey, tag, "", "", "", "", "", ""}, 0);
    if (which == Book::B) add({"~extra", "B", "", "", "", "", "", ""}, 0);
    return set;
}

int32_t contactsIn(Book which) { return kContacts + (which == Book::A ? 1 : 2); }

class SaveCrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "SaveCrash-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
        dir_ = tmpl;
        path_ = (fs::path(dir_) / "data.vlt").string();
        bookA_ = makeBook(Book::A);
        bookB_ = makeBook(Book::B);
    }

    void TearDown() override {
        destroyHashE(bookA_);
        destroyHashE(bookB_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    hashElemR* book(Book which) const { return which == Book::A ? bookA_ : bookB_; }

    // Reads data.vlt, which must load without error, and tells which book it
    // holds; fails the test when it is neither.
    ::testing::AssertionResult loadsAs(Book* which) {
        hashElemR* set = nullptr;
        try {
            loadCryptHashE(path_, set, kKey);
        } catch (const std::exception& e) {
            destroyHashE(set);
            return ::testing::AssertionFailure() << "data.vlt does not load: " << e.what();
        }
        if (set == nullptr) return ::testing::AssertionFailure() << "data.vlt made no set";
        TElem* marker = getSHashElem(kMarkerKey, 0, set);
        std::string tag = "(none)";
        if (marker != nullptr) marker->getStr(1, tag);
        const int32_t count = countHashE(set);
        const int32_t data = set->data;
        destroyHashE(set);
        for (Book b : {Book::A, Book::B}) {
            const bool isB = b == Book::B;
            if (tag == (isB ? "B" : "A") && count == contactsIn(b) && data == (isB ? 2 : 1)) {
                *which = b;
                return ::testing::AssertionSuccess();
            }
        }
        return ::testing::AssertionFailure() << "data.vlt holds neither book: marker " << tag
                                             << ", " << count << " contacts, tag " << data;
    }

    std::vector<std::string> filesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::string dir_;
    std::string path_;
    hashElemR* bookA_ = nullptr;
    hashElemR* bookB_ = nullptr;
};

// Runs body in a child process that dies with its parent and never returns
// into the test. The child ends with status 0 when body returns, 2 when it
// throws.
template <typename Body>
pid_t spawn(Body body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    try {
        body();
    } catch (...) {
        _exit(2);
    }
    _exit(0);
}

// How a child ended, for messages.
std::string describe(int status) {
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "stopped";
}

TEST_F(SaveCrashTest, KillingARepeatedSaveAnywhereLeavesOneOfTheTwoBooks) {
    saveCryptHashE(path_, bookA_, kKey);

    const unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delayUs(0, 50000);

    int seen[2] = {0, 0};
    int savesCompleted = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t child = spawn([&] {
            close(done[0]);
            // Alternate the books, B first; report each finished save.
            for (uint64_t i = 0;; ++i) {
                saveCryptHashE(path_, (i % 2 == 0) ? bookB_ : bookA_, kKey);
                const char one = 1;
                if (write(done[1], &one, 1) != 1) _exit(3);
            }
        });
        ASSERT_GT(child, 0);
        close(done[1]);

        // Every other kill waits for one whole save first, so that kills also
        // land in saves over a file the child itself wrote.
        if (kill % 2 == 1) {
            pollfd p{done[0], POLLIN, 0};
            poll(&p, 1, 10000);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the saving child " << describe(status);
        char buffer[4096];
        for (ssize_t n; (n = read(done[0], buffer, sizeof buffer)) > 0;) {
            savesCompleted += static_cast<int>(n);
        }
        close(done[0]);

        Book which{};
        ASSERT_TRUE(loadsAs(&which));
        ++seen[which == Book::A ? 0 : 1];
    }
    std::printf(
        "[ SaveCrash ] %d kills (seed %u): book A %d times, book B %d times; "
        "%d saves completed\n",
        kKills, seed, seen[0], seen[1], savesCompleted);

    // Whatever the kills left behind, one normal save leaves data.vlt alone.
    saveCryptHashE(path_, bookB_, kKey);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"data.vlt"});
    Book which{};
    ASSERT_TRUE(loadsAs(&which));
    EXPECT_EQ(which, Book::B);
}

// The steps of a save at which the writer's process dies.
enum class Death { HalfwayThroughWriting, AtSync, BeforeRename, AfterRename };

const char* stepName(Death when) {
    switch (when) {
        case Death::HalfwayThroughWriting:
            return "HalfwayThroughWriting";
        case Death::AtSync:
            return "AtSync";
        case Death::BeforeRename:
            return "BeforeRename";
        case Death::AfterRename:
            return "AfterRename";
    }
    return "Unknown";
}

void PrintTo(Death when, std::ostream* os) { *os << stepName(when); }

// A file layer that kills its own process at one step of a save.
class DyingLayer : public FileLayer {
  public:
    explicit DyingLayer(Death when) : when_(when) {}

    ssize_t write(int fd, const void* data, size_t size) override {
        if (when_ == Death::HalfwayThroughWriting && size > 1) {
            FileLayer::write(fd, data, size / 2);
            raise(SIGKILL);
        }
        return FileLayer::write(fd, data, size);
    }
    int fsync(int fd) override {
        if (when_ == Death::AtSync) raise(SIGKILL);
        return FileLayer::fsync(fd);
    }
    int rename(const char* from, const char* to) override {
        if (when_ == Death::BeforeRename) raise(SIGKILL);
        const int rc = FileLayer::rename(from, to);
        if (when_ == Death::AfterRename) raise(SIGKILL);
        return rc;
    }

  private:
    Death when_;
};

class SaveCrashStepTest : public SaveCrashTest, public ::testing::WithParamInterface<Death> {};

TEST_P(SaveCrashStepTest, DeathAtOneStepOfASaveLeavesAWholeBookAndTheNextSaveCleansUp) {
    saveCryptHashE(path_, bookA_, kKey);
    const Death when = GetParam();
    const pid_t child = spawn([&] {
        DyingLayer layer(when);
        setFileLayer(&layer);
        saveCryptHashE(path_, bookB_, kKey);
    });
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the save never reached that step: the child " << describe(status);

    // Until the rename the old book stands, and the new one is a temporary
    // file beside it; from the rename on the new book stands.
    Book which{};
    ASSERT_TRUE(loadsAs(&which));
    if (when == Death::AfterRename) {
        EXPECT_EQ(which, Book::B);
        EXPECT_EQ(filesInFolder(), std::vector<std::string>{"data.vlt"});
    } else {
        EXPECT_EQ(which, Book::A);
        EXPECT_GT(filesInFolder().size(), 1u) << "the killed save left no temporary file";
    }

    saveCryptHashE(path_, bookA_, kKey);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"data.vlt"});
    ASSERT_TRUE(loadsAs(&which));
    EXPECT_EQ(which, Book::A);
}

INSTANTIATE_TEST_SUITE_P(EachStep, SaveCrashStepTest,
                         ::testing::Values(Death::HalfwayThroughWriting, Death::AtSync,
                                           Death::BeforeRename, Death::AfterRename),
                         [](const ::testing::TestParamInfo<Death>& info) {
                             return std::string(stepName(info.param));
                         });

}  // namespace
}  // namespace contavio
