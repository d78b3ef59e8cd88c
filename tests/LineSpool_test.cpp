#include "persistence/LineSpool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Worker.h"
#include "persistence/DataFiles.h"
#include "persistence/UEncrypt.h"

namespace contavio {
namespace {

constexpr int32_t kKey = 853;

// A new file in a folder of its own, open for writing; both go with the object.
class ScratchOutput {
  public:
    ScratchOutput() {
        char folder[] = "/tmp/LineSpool_test-XXXXXX";
        if (::mkdtemp(folder) == nullptr) std::abort();
        folder_ = folder;
        path_ = folder_ + "/out";
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd_ < 0) std::abort();
    }
    ~ScratchOutput() {
        ::close(fd_);
        ::unlink(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    int fd() const { return fd_; }
    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

  private:
    std::string folder_, path_;
    int fd_ = -1;
};

std::string enciphered(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += encryptStr(line, kKey) + "\r\n";
    return out;
}

// Lines of every byte value, empty ones, and now and then one longer than a
// batch or a block.
std::vector<std::string> randomLines(std::mt19937& rng, size_t bytes) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::string> lines;
    size_t total = 0;
    while (total < bytes) {
        const int kind = percent(rng);
        const size_t length = kind < 10   ? 0
                              : kind < 98 ? percent(rng) / 2
                                          : 300000 + percent(rng) * 20000;
        std::string line(length, ' ');
        for (char& c : line) c = static_cast<char>(byte(rng));
        total += line.size() + 2;
        lines.push_back(std::move(line));
    }
    return lines;
}

TEST(LineSpoolWrite, EveryLineEncipheredAndEndedInOrder) {
    std::mt19937 rng(5);
    for (const size_t bytes : {size_t{0}, size_t{100}, size_t{5} << 20})
        for (const bool large : {true, false}) {
            SCOPED_TRACE(large);
            const std::vector<std::string> lines = randomLines(rng, bytes);
            ScratchOutput file;
            FileLayer posix;
            {
                LineSpool spool(file.fd(), posix, kKey, large);
                for (const std::string& line : lines) spool.line(line);
                spool.finish();
            }
            const std::string written = file.contents();
            ASSERT_EQ(written.size(), enciphered(lines).size()) << bytes;
            EXPECT_TRUE(written == enciphered(lines)) << bytes;
        }
}

// Takes at most a few bytes per call, and is interrupted now and then.
class ShortWrites : public FileLayer {
  public:
    ssize_t write(int fd, const void* data, size_t size) override {
        ++calls;
        if (calls % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return FileLayer::write(fd, data, std::min<size_t>(size, 1 + calls % 65521));
    }
    int calls = 0;
};

TEST(LineSpoolWrite, ShortAndInterruptedWrites) {
    std::mt19937 rng(9);
    const std::vector<std::string> lines = randomLines(rng, 3u << 20);
    for (const bool large : {true, false}) {
        SCOPED_TRACE(large);
        ScratchOutput file;
        ShortWrites layer;
        {
            LineSpool spool(file.fd(), layer, kKey, large);
            for (const std::string& line : lines) spool.line(line);
            spool.finish();
        }
        EXPECT_GT(layer.calls, 50);
        EXPECT_TRUE(file.contents() == enciphered(lines));
    }
}

// Writes normally up to `limit` bytes; then fails with `error`, or writes
// nothing at all when error is 0.
class FailsAfter : public FileLayer {
  public:
    FailsAfter(size_t limit, int error) : limit_(limit), error_(error) {}
    ssize_t write(int fd, const void* data, size_t size) override {
        if (given_ >= limit_) {
            if (error_ == 0) return 0;
            errno = error_;
            return -1;
        }
        const ssize_t done = FileLayer::write(fd, data, std::min(size, limit_ - given_));
        if (done > 0) given_ += static_cast<size_t>(done);
        return done;
    }

  private:
    size_t limit_;
    int error_;
    size_t given_ = 0;
};

TEST(LineSpoolFailure, AFailedWriteReachesTheCaller) {
    const std::vector<std::string> lines(400000,
                                         "Mar\xED"
                                         "a Garc\xED"
                                         "a L\xF3pez");
    for (const auto& [limit, error, message] :
         {std::tuple{size_t{0}, EIO, std::strerror(EIO)},
          std::tuple{size_t{3} << 20, ENOSPC, std::strerror(ENOSPC)},
          std::tuple{size_t{5} << 20, 0, std::strerror(ENOSPC)},
          std::tuple{size_t{7}, EROFS, std::strerror(EROFS)}})
        for (const bool large : {true, false}) {
            SCOPED_TRACE(limit);
            SCOPED_TRACE(large);
            ScratchOutput file;
            FailsAfter layer(limit, error);
            LineSpool spool(file.fd(), layer, kKey, large);
            try {
                for (const std::string& line : lines) spool.line(line);
                spool.finish();
                FAIL() << "the failure was not reported";
            } catch (const FileError& failure) {
                EXPECT_STREQ(failure.what(), message);
            }
        }
}

// Counts what reaches the file, and whether signals are blocked there.
class WriteProbe : public FileLayer {
  public:
    ssize_t write(int fd, const void* data, size_t size) override {
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        allBlocked = sigismember(&mask, SIGTERM) == 1 && sigismember(&mask, SIGINT) == 1 &&
                     sigismember(&mask, SIGHUP) == 1;
        writer = pthread_self();
        const ssize_t done = FileLayer::write(fd, data, size);
        if (done > 0) written += static_cast<size_t>(done);
        return done;
    }
    std::atomic<bool> allBlocked{false};
    std::atomic<size_t> written{0};
    pthread_t writer{};
};

TEST(LineSpoolStop, ACallerThatGivesUpWritesNoMore) {
    ScratchOutput file;
    WriteProbe probe;
    {
        LineSpool spool(file.fd(), probe, kKey, true);
        // Two batches, less than a block: nothing is due to the file yet.
        for (int i = 0; i < 30000; ++i) spool.line("Calle del Olivo 12, Madrid");
        // No finish: the caller failed elsewhere.
    }
    EXPECT_EQ(probe.written.load(), 0u);
    EXPECT_TRUE(file.contents().empty());
}

TEST(LineSpoolSmall, ASmallFileIsWrittenByTheCaller) {
    ScratchOutput file;
    WriteProbe probe;
    {
        LineSpool spool(file.fd(), probe, kKey, false);
        spool.line("uno");
        spool.finish();
    }
    EXPECT_EQ(file.contents(), encryptStr("uno", kKey) + "\r\n");
    EXPECT_TRUE(pthread_equal(probe.writer, pthread_self()));
}

TEST(LineSpoolSignals, TheWritingThreadLeavesSignalsToTheProgram) {
    ScratchOutput file;
    WriteProbe probe;
    {
        LineSpool spool(file.fd(), probe, kKey, true);
        spool.line("uno");
        spool.finish();
    }
    EXPECT_EQ(probe.written.load(), encryptStr("uno", kKey).size() + 2);
    if (workersAllowed()) {
        EXPECT_TRUE(probe.allBlocked);
        EXPECT_FALSE(pthread_equal(probe.writer, pthread_self()));
    } else {
        // No second thread to be had: the caller wrote the file itself.
        EXPECT_TRUE(pthread_equal(probe.writer, pthread_self()));
    }
}

}  // namespace
}  // namespace contavio
