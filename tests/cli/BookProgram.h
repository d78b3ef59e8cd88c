// contavio-book run as a separate program in a folder of the test's own, as
// a person or a script runs it: what it prints, how it ends, and the files
// it leaves there.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <string>

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

class BookProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    Outcome run(const QStringList& args) {
        QProcess program;
        program.setWorkingDirectory(dir_.path());
        program.start(QStringLiteral(CONTAVIO_BOOK), args);
        EXPECT_TRUE(program.waitForFinished(60000));
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                QString::fromUtf8(program.readAllStandardError())};
    }
    std::string file(const char* name) const { return dir_.filePath(name).toStdString(); }
    void write(const char* name, const std::string& bytes) {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const char* name) const {
        std::ifstream in(file(name), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    QTemporaryDir dir_;
};
