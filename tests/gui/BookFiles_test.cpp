// The rules of the book's files without a window: a book in a folder of its
// own, its lock, and what start-up keeps and close-down writes.
#include "book/BookFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "GuiTest.h"
#include "book/ContactProto.h"

namespace contavio::testing {
namespace {

TEST(BookFilesTest, ABookInAnotherFolderIsLockedReadKeptAsideAndSavedThere) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    writeBytes(folder + "/contact.txt", legacyText({person("Ana", "Ruiz", "Centro")}));
    writeBytes(folder + "/data.vlt", "un libro anterior\r\n");

    BookFiles book(folder);
    ASSERT_EQ(book.lock(), BookLock::State::Held);
    {
        BookFiles other(folder + "/");
        EXPECT_EQ(other.lock(), BookLock::State::Busy);
    }
    TConjuntos sets(1);
    const QString told = book.load(sets, kContactSlot);
    ASSERT_FALSE(sets.isEmpty(kContactSlot));
    EXPECT_EQ(countHashE(sets.sets[kContactSlot]), 1);

    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("data.vlt.replaced-", 0) == 0) kept.push_back(entry.path().string());
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(told.contains(QString::fromStdString(kept[0]))) << told.toStdString();
    EXPECT_EQ(readBytes(kept[0]), "un libro anterior\r\n");

    EXPECT_TRUE(book.save(sets, kContactSlot).isEmpty());
    EXPECT_EQ(book.saveTarget(), folder + "/data.vlt");
    EXPECT_EQ(readBook(folder + "/data.vlt").contacts.count("AnaRuiz"), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder + "/contact.txt"));

    // A second name of the book is never split from it: the save goes aside.
    std::filesystem::create_hard_link(folder + "/data.vlt", folder + "/otro-nombre.vlt");
    const std::string linked = readBytes(folder + "/data.vlt");
    EXPECT_TRUE(book.save(sets, kContactSlot).contains(q("enlace duro")));
    EXPECT_TRUE(book.saveTarget().starts_with(folder + "/data.vlt.new-")) << book.saveTarget();
    EXPECT_EQ(readBytes(folder + "/data.vlt"), linked);
    EXPECT_EQ(readBook(book.saveTarget()).contacts.count("AnaRuiz"), 1u);

    book.unlock();
    BookFiles next(folder);
    EXPECT_EQ(next.lock(), BookLock::State::Held);
}

}  // namespace
}  // namespace contavio::testing
