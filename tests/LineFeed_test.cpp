#include "persistence/LineFeed.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/Worker.h"
#include "persistence/DataFiles.h"

namespace contavio {
namespace {

// A file in a folder of its own, removed with the object.
class ScratchFile {
  public:
    explicit ScratchFile(const std::string& bytes) {
        char folder[] = "/tmp/LineFeed_test-XXXXXX";
        if (::mkdtemp(folder) == nullptr) std::abort();
        folder_ = folder;
        path_ = folder_ + "/lines";
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::abort();
        }
        std::fclose(f);
        size_ = bytes.size();
    }
    ~ScratchFile() {
        ::unlink(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

  private:
    std::string folder_, path_;
    uint64_t size_ = 0;
};

class OpenFile {
  public:
    explicit OpenFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenFile() { ::close(fd_); }
    int get() const { return fd_; }

  private:
    int fd_;
};

struct Expected {
    std::string text;
    uint64_t rawSize;
};

// The lines of a file by the rule the reader keeps: a line ends at LF, a CR
// right before that LF belongs to the line end, any other CR is text, and the
// last line may lack its end.
std::vector<Expected> splitLines(const std::string& bytes) {
    std::vector<Expected> lines;
    size_t begin = 0;
    while (begin < bytes.size()) {
        const size_t lf = bytes.find('\n', begin);
        if (lf == std::string::npos) {
            lines.push_back({bytes.substr(begin), bytes.size() - begin});
            break;
        }
        size_t end = lf;
        if (end > begin && bytes[end - 1] == '\r') --end;
        lines.push_back({bytes.substr(begin, end - begin), lf + 1 - begin});
        begin = lf + 1;
    }
    return lines;
}

// Lines of random length (now and then longer than a read) with LF, CR LF,
// lone CRs and NUL bytes among the text.
std::string randomLines(std::mt19937& rng, size_t bytes) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> textByte(32, 255);
    std::string out;
    while (out.size() < bytes) {
        const int kind = percent(rng);
        size_t length = kind < 90   ? percent(rng) / 3
                        : kind < 99 ? 200 + percent(rng) * 40
                                    : 1500000;
        for (size_t i = 0; i < length; ++i) {
            const int p = percent(rng);
            out += p == 0 ? '\r' : p == 1 ? '\0' : static_cast<char>(textByte(rng));
        }
        out += percent(rng) < 50 ? "\r\n" : "\n";
    }
    return out;
}

// Reads every line through the feed and checks it against the plain split,
// with the line numbers, the bytes left and the NUL marks; then lines past
// the end.
void expectSameLines(const std::string& bytes, FileLayer& layer, std::optional<int32_t> key) {
    const ScratchFile file(bytes);
    const OpenFile fd(file.path());
    LineFeed feed(fd.get(), file.size(), layer, key);
    const std::vector<Expected> lines = splitLines(bytes);
    uint64_t consumed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = feed.next();
        const std::string& raw = lines[i].text;
        const std::string want = key ? decryptStr(raw, *key) : raw;
        ASSERT_EQ(line.size(), want.size()) << "line " << i + 1;
        ASSERT_TRUE(line == want) << "line " << i + 1;
        ASSERT_EQ(feed.lastHadNul(), raw.find('\0') != std::string::npos) << "line " << i + 1;
        ASSERT_EQ(feed.lineNumber(), static_cast<int64_t>(i + 1));
        consumed += lines[i].rawSize;
        ASSERT_EQ(feed.bytesLeft(), file.size() - consumed) << "line " << i + 1;
    }
    for (int past = 0; past < 3; ++past) {
        EXPECT_TRUE(feed.next().empty());
        EXPECT_FALSE(feed.lastHadNul());
        EXPECT_EQ(feed.bytesLeft(), 0u);
    }
    EXPECT_EQ(feed.lineNumber(), static_cast<int64_t>(lines.size() + 3));
}

// Hands out a few bytes per call, and is interrupted now and then.
class ShortReads : public FileLayer {
  public:
    ssize_t read(int fd, void* data, size_t size) override {
        ++calls;
        if (calls % 5 == 0) {
            errno = EINTR;
            return -1;
        }
        return FileLayer::read(fd, data, std::min<size_t>(size, 1 + calls % 4093));
    }
    int calls = 0;
};

// Reads normally up to `limit` bytes, then fails with EIO.
class FailsAfter : public FileLayer {
  public:
    explicit FailsAfter(size_t limit) : limit_(limit) {}
    ssize_t read(int fd, void* data, size_t size) override {
        if (given_ >= limit_) {
            errno = EIO;
            return -1;
        }
        const ssize_t got = FileLayer::read(fd, data, std::min(size, limit_ - given_));
        if (got > 0) given_ += static_cast<size_t>(got);
        return got;
    }

  private:
    size_t limit_;
    size_t given_ = 0;
};

TEST(LineFeedSplit, SmallFilesLineByLine) {
    FileLayer posix;
    for (const std::string& bytes :
         {std::string(), std::string("\n"), std::string("\r\n"), std::string("a"),
          std::string("a\r"), std::string("a\rb\r\n\r\r\nc"), std::string("\n\n\nx\n"),
          std::string("one\r\ntwo\nthree\r\n"), std::string("x\0y\n\0\nz", 8)}) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        expectSameLines(bytes, posix, std::nullopt);
        expectSameLines(bytes, posix, 853);
    }
}

TEST(LineFeedSplit, LargeFilesAcrossReadsAndBatches) {
    FileLayer posix;
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        const std::string bytes = randomLines(rng, 6u << 20);
        expectSameLines(bytes, posix, std::nullopt);
        expectSameLines(bytes, posix, 853);
    }
}

TEST(LineFeedSplit, ShortAndInterruptedReads) {
    std::mt19937 rng(11);
    const std::string bytes = randomLines(rng, 6u << 20);
    ShortReads shortReads;
    expectSameLines(bytes, shortReads, 853);
    EXPECT_GT(shortReads.calls, 1000);
}

TEST(LineFeedFailure, LinesBeforeAReadErrorComeFirstThenTheError) {
    // A small file is read on the caller's thread, a large one on another.
    for (const int count : {50000, 600000}) {
        SCOPED_TRACE(count);
        std::string bytes;
        for (int i = 0; i < count; ++i) bytes += "line " + std::to_string(i) + "\r\n";
        const size_t limit = bytes.size() / 2 + 3;  // inside a line
        const std::vector<Expected> lines = splitLines(bytes.substr(0, limit));
        const ScratchFile file(bytes);
        const OpenFile fd(file.path());
        FailsAfter layer(limit);
        LineFeed feed(fd.get(), file.size(), layer, std::nullopt);
        // Every complete line before the failure, not the cut one.
        for (size_t i = 0; i + 1 < lines.size(); ++i) ASSERT_EQ(feed.next(), lines[i].text);
        try {
            feed.next();
            FAIL() << "no error after " << lines.size() - 1 << " lines";
        } catch (const FileError& error) {
            EXPECT_STREQ(error.what(), std::strerror(EIO));
        }
    }
}

TEST(LineFeedFailure, ErrorOnTheFirstRead) {
    const ScratchFile file("a\nb\n");
    const OpenFile fd(file.path());
    FailsAfter layer(0);
    LineFeed feed(fd.get(), file.size(), layer, 853);
    EXPECT_THROW(feed.next(), FileError);
}

// Counts the bytes the reading thread takes from the file.
class CountingReads : public FileLayer {
  public:
    ssize_t read(int fd, void* data, size_t size) override {
        const ssize_t got = FileLayer::read(fd, data, size);
        if (got > 0) given += static_cast<size_t>(got);
        return got;
    }
    std::atomic<size_t> given{0};
};

TEST(LineFeedStop, ReadsBoundedAheadAndStopsWithItsCaller) {
    const std::string line = "0123456789012345678901234567890123456789";
    std::string bytes;
    while (bytes.size() < (40u << 20)) bytes += line + "\n";
    const ScratchFile file(bytes);
    for (int lines = 0; lines < 3; ++lines) {
        const OpenFile fd(file.path());
        CountingReads counting;
        {
            LineFeed feed(fd.get(), file.size(), counting, std::nullopt);
            for (int i = 0; i < lines; ++i) ASSERT_EQ(feed.next(), line);
            // Give the reader time to run ahead as far as it may.
            ::usleep(50000);
            // The destructor stops it wherever it is, blocked on a full
            // queue or not.
        }
        // Without a second thread nothing is read before it is asked for.
        if (lines > 0 || workersAllowed()) {
            EXPECT_GT(counting.given.load(), 0u);
        }
        EXPECT_LT(counting.given.load(), 8u << 20) << "the reader ran too far ahead";
    }
}

// Records whether the reading thread runs with every signal blocked.
class MaskProbe : public FileLayer {
  public:
    ssize_t read(int fd, void* data, size_t size) override {
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        allBlocked = sigismember(&mask, SIGTERM) == 1 && sigismember(&mask, SIGINT) == 1 &&
                     sigismember(&mask, SIGHUP) == 1;
        reader = pthread_self();
        return FileLayer::read(fd, data, size);
    }
    std::atomic<bool> allBlocked{false};
    pthread_t reader{};
};

TEST(LineFeedSmall, ASmallFileIsReadByTheCaller) {
    const ScratchFile file("a\nb\n");
    const OpenFile fd(file.path());
    MaskProbe probe;
    LineFeed feed(fd.get(), file.size(), probe, std::nullopt);
    EXPECT_EQ(feed.next(), "a");
    EXPECT_EQ(feed.next(), "b");
    EXPECT_TRUE(pthread_equal(probe.reader, pthread_self()));
}

TEST(LineFeedSignals, TheReadingThreadLeavesSignalsToTheProgram) {
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    std::string bytes;
    while (bytes.size() < (5u << 20)) bytes += "a\nb\n";
    const ScratchFile file(bytes);
    const OpenFile fd(file.path());
    MaskProbe probe;
    {
        LineFeed feed(fd.get(), file.size(), probe, std::nullopt);
        EXPECT_EQ(feed.next(), "a");
        EXPECT_EQ(feed.next(), "b");
    }
    if (workersAllowed()) {
        EXPECT_TRUE(probe.allBlocked);
        EXPECT_FALSE(pthread_equal(probe.reader, pthread_self()));
    } else {
        // No second thread to be had: the caller read the file itself.
        EXPECT_TRUE(pthread_equal(probe.reader, pthread_self()));
    }
    // The caller's own mask is as it was.
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
    EXPECT_EQ(sigismember(&after, SIGINT), sigismember(&before, SIGINT));
}

}  // namespace
}  // namespace contavio
