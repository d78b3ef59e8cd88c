// What people do with a synced address book week after week: renames,
// edits on both sides, cut copies, groups, moved folders, other books. Each
// table holds one kind of promise: nothing lost, nothing garbled, told plainly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <set>
#include <string>

#include "SyncFolder.h"
#include "exchange/CardContact.h"
#include "exchange/VCard.h"

namespace contavio::synctest {
namespace {

const std::string kAna =
    "Ana"
    "Garc\xED"
    "a";

std::string card(const std::string& body) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + body + "END:VCARD\r\n";
}

// A card as a phone keeps it: what the book cannot show around a person.
const std::string kPhoneCard = card(
    "UID:phone-0001\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nTEL;TYPE=CELL:+34 650 000 001\r\n"
    "ORG:Acme\r\nTITLE:Jefa\r\nCATEGORIES:Trabajo\r\nBDAY:1980-01-10\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\nNOTE:Primera l\xC3\xADnea\r\n");

// What a test sees and does: the book, the folder, the book's folder.
struct Scene {
    Book book;
    std::string dir, bookDir;
    SyncReport report;

    SyncReport sync(SyncOptions options = {}) {
        return report = syncOnce(book, dir, bookDir, Cut::None, options);
    }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    void edit(const std::string& name, const std::function<void(VCard&)>& change) const {
        std::vector<VCard> cards = parseVCards(readAll(file(name)));
        ASSERT_EQ(cards.size(), 1u);
        change(cards[0]);
        writeAll(file(name), writeVCard(cards[0], VCardVersion::V30));
    }
};

size_t cardFiles(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().extension() == ".vcf";
    return n;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Case {
    const char* what;
    std::function<void(Scene&)> before;  // both sides before the first sync
    std::function<void(Scene&)> change;  // after it: the syncs and edits the case is about
    std::function<void(Scene&)> check;   // then: what must hold
};

class SyncCases : public VdirSyncTest {
  protected:
    void run(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            startOver();
            Scene s{{}, dir_, bookDir_, {}};
            if (c.before) c.before(s);
            s.sync();
            c.change(s);
            c.check(s);
        }
    }
};

Book numberedBook(int n) {
    Book b;
    for (int i = 0; i < n; ++i)
        add(b, contact("Persona" + std::to_string(i), "Apellido", {std::to_string(600000 + i)}));
    return b;
}

void removeSomeCards(Scene& s, size_t count) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(s.dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i < count; ++i) fs::remove(files[i]);
}

TEST_F(SyncCases, NothingIsLost) {
    const std::vector<Case> cases = {
        {"a contact renamed in the book keeps the phone's card and all it holds",
         [](Scene& s) { writeAll(s.file("phone.vcf"), kPhoneCard); },
         [](Scene& s) {
             ContactData renamed = s.book.at("PilarRuiz");
             s.book.erase("PilarRuiz");
             renamed.surnames = "Ruiz Sol";
             add(s.book, renamed);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(cardFiles(s.dir), 1u);
             const std::string text = readAll(s.file("phone.vcf"));
             for (const char* kept :
                  {"UID:phone-0001", "ORG:Acme", "TITLE:Jefa", "PHOTO;", "TEL;TYPE=CELL",
                   "1980-01-10", "CATEGORIES:Trabajo", "N:Ruiz Sol;Pilar"})
                 EXPECT_TRUE(has(text, kept)) << kept << " in\n" << text;
             EXPECT_EQ(s.book.count("PilarRuiz Sol"), 1u);
             EXPECT_EQ(s.book.size(), 1u);
         }},
        {"another person who shares a telephone with a deleted contact is no rename",
         [](Scene& s) {
             writeAll(s.file("juan.vcf"), card("N:G\xC3\xB3mez;Juan;;;\r\nTEL:915550000\r\n"
                                               "EMAIL:juan@example.com\r\nORG:Banco\r\n"));
         },
         [](Scene& s) {
             s.book.clear();
             add(s.book, contact("Marta", "Sanz", {"915550000"}, {"marta@example.com"}));
             SyncOptions force;
             force.forceDelete = true;
             s.sync(force);
         },
         [](Scene& s) {
             EXPECT_FALSE(fs::exists(s.file("juan.vcf")));
             for (const auto& [name, c] : cardsIn(s.dir)) EXPECT_EQ(c.surnames, "Sanz");
             for (const auto& e : fs::directory_iterator(s.dir))
                 EXPECT_FALSE(has(readAll(e.path()), "Banco")) << e.path();
         }},
        {"two contacts renamed at once who share a telephone keep their cards",
         [](Scene& s) {
             for (const char* who : {"Juan", "Marta"}) {
                 const std::string w = who;
                 writeAll(s.file(w + ".vcf"),
                          card("N:G\xC3\xB3mez;" + w + ";;;\r\nTEL:915550000\r\nEMAIL:" + w +
                               "@example.com\r\nORG:" + w + " SA\r\n"));
             }
         },
         [](Scene& s) {
             Book renamed;
             for (auto [key, c] : s.book) {
                 c.surnames += " Sanz";
                 add(renamed, c);
             }
             s.book = renamed;
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(cardFiles(s.dir), 2u);
             for (const char* who : {"Juan", "Marta"}) {
                 const std::string text = readAll(s.file(std::string(who) + ".vcf"));
                 EXPECT_TRUE(has(text, std::string("ORG:") + who + " SA") && has(text, "Sanz"))
                     << text;
             }
         }},
        {"deletions a run cut short left behind still count for the guard",
         [](Scene& s) { s.book = numberedBook(10); },
         [](Scene& s) {
             for (int i = 0; i < 4; ++i) s.book.erase(s.book.begin());
             syncOnce(s.book, s.dir, s.bookDir, Cut::AfterBook);
             s.sync();
             s.book.erase(s.book.begin());
             s.sync();
         },
         [](Scene& s) { EXPECT_TRUE(s.report.refused); }},
        {"a card cut short is no edit of the phone",
         [](Scene& s) { writeAll(s.file("phone.vcf"), kPhoneCard); },
         [](Scene& s) {
             const std::string whole = readAll(s.file("phone.vcf"));
             for (const std::string& cut :
                  {whole.substr(0, whole.find("TEL")), whole.substr(0, whole.find("END:"))}) {
                 writeAll(s.file("phone.vcf"), cut);
                 s.sync();
                 EXPECT_FALSE(s.report.notes.empty());
             }
         },
         [](Scene& s) {
             ASSERT_EQ(s.book.size(), 1u);
             EXPECT_EQ(s.book.at("PilarRuiz").phones, std::vector<std::string>{"+34 650 000 001"});
         }},
        {"a birthday changed on both sides is one field, and the card keeps its year",
         [](Scene& s) { writeAll(s.file("phone.vcf"), kPhoneCard); },
         [](Scene& s) {
             s.edit("phone.vcf", [](VCard& c) { setValue(c, "BDAY", "1980-01-31"); });
             s.book["PilarRuiz"].month = "Febrero";
             s.sync();
         },
         [](Scene& s) {
             const ContactData& c = s.book.at("PilarRuiz");
             EXPECT_EQ(c.day + " " + c.month, "10 Febrero");
             EXPECT_TRUE(has(c.notes, "Cumplea\xF1os: 31 de Enero")) << c.notes;
             EXPECT_EQ(s.report.conflicts, 1);
             EXPECT_TRUE(has(readAll(s.file("phone.vcf")), "BDAY:1980-02-10"))
                 << readAll(s.file("phone.vcf"));
         }},
        {"half of a side is not deleted in one sync without confirmation",
         [](Scene& s) { s.book = numberedBook(12); },
         [](Scene& s) {
             removeSomeCards(s, 6);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_TRUE(s.report.refused);
             EXPECT_EQ(s.book.size(), 12u);
         }},
        {"nor in steps, until the user confirms", [](Scene& s) { s.book = numberedBook(12); },
         [](Scene& s) {
             for (int step = 0; step < 3; ++step) {
                 removeSomeCards(s, 2);
                 s.sync();
             }
             EXPECT_TRUE(s.report.refused);
             SyncOptions force;
             force.forceDelete = true;
             s.sync(force);
             EXPECT_FALSE(s.report.refused);
             removeSomeCards(s, 2);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_FALSE(s.report.refused);
             EXPECT_EQ(s.book.size(), 4u);
         }},
        {"a small book is not replaced by another account's card",
         [](Scene& s) { s.book = numberedBook(5); },
         [](Scene& s) {
             removeSomeCards(s, 5);
             writeAll(s.file("other.vcf"), card("N:Otro;Uno;;;\r\nFN:Uno Otro\r\n"));
             s.sync();
         },
         [](Scene& s) {
             EXPECT_TRUE(s.report.refused);
             EXPECT_EQ(s.book.size(), 5u);
         }},
        {"a group stays a group, named once",
         [](Scene& s) {
             s.book = twoContacts();
             writeAll(s.file("group.vcf"),
                      card("X-ADDRESSBOOKSERVER-KIND:group\r\nN:Familia;;;;\r\nFN:Familia\r\n"
                           "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:1\r\n"));
         },
         [](Scene& s) {
             ASSERT_EQ(s.report.notes.size(), 1u);
             EXPECT_TRUE(has(s.report.notes[0], "grupo")) << s.report.notes[0];
             s.sync();
             EXPECT_TRUE(s.report.notes.empty());
         },
         [](Scene& s) {
             EXPECT_EQ(s.book.size(), 2u);
             EXPECT_TRUE(fs::exists(s.file("group.vcf")));
         }},
        {"two books synced with one folder keep a state each",
         [](Scene& s) { s.book = twoContacts(); },
         [](Scene& s) {
             Book other = numberedBook(3);
             SyncOptions second;
             second.bookName = "otra.vlt";
             syncOnce(other, s.dir, s.bookDir, Cut::None, second);
             EXPECT_EQ(other.size(), 5u);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(cardFiles(s.dir), 5u);
             EXPECT_EQ(s.book.size(), 5u);
         }},
        {"cards with no name, telephone or e-mail all come in",
         [](Scene& s) {
             for (int i = 0; i < 150; ++i)
                 writeAll(s.file("n" + std::to_string(i) + ".vcf"),
                          card("NOTE:nota " + std::to_string(i) + "\r\n"));
         },
         [](Scene& s) { EXPECT_EQ(s.report.bookAdded, 150); },
         [](Scene& s) {
             std::set<std::string> notes;
             for (const auto& [key, c] : s.book) notes.insert(c.notes);
             EXPECT_EQ(notes.size(), 150u);
             EXPECT_EQ(counts(s.sync()), (Counts{0, 0, 0, 0, 0, 0, 0}));
         }},
    };
    run(cases);
}

TEST_F(SyncCases, NothingIsGarbledOrMixedUp) {
    const std::vector<Case> cases = {
        {"a moved folder goes on with its state", [](Scene& s) { s.book = twoContacts(); },
         [](Scene& s) {
             const std::string moved = s.dir + "-movida";
             fs::rename(s.dir, moved);
             s.dir = moved;
             s.book.erase(kAna);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(counts(s.report), (Counts{0, 0, 1, 0, 0, 0, 0}));
             EXPECT_EQ(s.book.size(), 1u);
             EXPECT_TRUE(inStep(s.book, s.dir));
             fs::remove_all(s.dir);
         }},
        {"a card saved again as it was does not undo a deletion",
         [](Scene& s) { s.book = twoContacts(); },
         [](Scene& s) {
             s.edit(fileOf(s.dir, kAna), [](VCard& c) { setValue(c, "REV", "20261208T000000Z"); });
             s.book.erase(kAna);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(s.book.count(kAna), 0u);
             EXPECT_EQ(cardFiles(s.dir), 1u);
         }},
        {"a note edited on both sides ten times grows by the edits only",
         [](Scene& s) {
             add(s.book, contact("Eva", "Sol"));
             s.book["EvaSol"].notes = std::string(60, 'x');
         },
         [](Scene& s) {
             const std::string name = fileOf(s.dir, "EvaSol");
             for (int i = 0; i < 10; ++i) {
                 s.book["EvaSol"].notes += " libro" + std::to_string(i);
                 s.edit(name, [&](VCard& c) {
                     for (VCardProperty& p : c.properties)
                         if (p.name == "NOTE") p.value += " tel" + std::to_string(i);
                 });
                 s.sync();
             }
         },
         [](Scene& s) {
             const std::string& notes = s.book.at("EvaSol").notes;
             EXPECT_LT(notes.size(), 60u + 10 * 50) << notes;
             EXPECT_TRUE(has(notes, "tel9") && has(notes, "libro9")) << notes;
         }},
        {"a conflict adds to the card's own note and keeps its text",
         [](Scene& s) {
             writeAll(s.file("phone.vcf"),
                      card("N:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nADR:;;Calle 1;;;;\r\n"
                           "NOTE:"
                           "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\\n\xD0\xBC\xD0\xB8\xD1"
                           "\x80\r\n"));
         },
         [](Scene& s) {
             s.edit("phone.vcf", [](VCard& c) { setValue(c, "ADR", ";;Calle 2;;;;"); });
             s.book["PilarRuiz"].address = "Calle 3";
             s.sync();
         },
         [](Scene& s) {
             const std::string text = readAll(s.file("phone.vcf"));
             EXPECT_TRUE(
                 has(text, "NOTE:\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\\n\xD0\xBC"))
                 << text;
             EXPECT_TRUE(has(text, "Direcci\xC3\xB3n: Calle 2")) << text;
             EXPECT_TRUE(inStep(s.book, s.dir));
         }},
        {"a first sync keeps two people who only share a name",
         [](Scene& s) {
             s.book = twoContacts();
             writeAll(s.file("other.vcf"), card("N:Garc\xC3\xAD"
                                                "a;Ana;;;\r\nFN:Ana Garc\xC3\xAD"
                                                "a\r\nTEL:699 999 999\r\n"
                                                "ADR:;;Plaza 9;;;;\r\n"));
         },
         [](Scene&) {},
         [](Scene& s) {
             EXPECT_EQ(s.book.at(kAna).phones, std::vector<std::string>{"600 111 222"});
             EXPECT_EQ(s.book.size(), 3u);
             EXPECT_EQ(readAll(s.file("other.vcf")).find("Calle Mayor"), std::string::npos);
         }},
        {"names swapped between two cards leave no mark", [](Scene& s) { s.book = twoContacts(); },
         [](Scene& s) {
             const std::string ana = fileOf(s.dir, kAna), luis = fileOf(s.dir, "LuisP\xE9rez");
             const std::string anaText = readAll(s.file(ana));
             writeAll(s.file(ana), readAll(s.file(luis)));
             writeAll(s.file(luis), anaText);
             s.sync();
         },
         [](Scene& s) {
             EXPECT_EQ(s.book.size(), 2u);
             for (const auto& [key, c] : s.book) EXPECT_FALSE(has(key, "conflicto")) << key;
             EXPECT_TRUE(inStep(s.book, s.dir));
         }},
    };
    run(cases);
}

TEST_F(SyncCases, ToldPlainlyAndKeptSmall) {
    const std::vector<Case> cases = {
        {"a refusal names the contacts it would delete", [](Scene& s) { s.book = twoContacts(); },
         [](Scene& s) {
             s.book.clear();
             s.sync();
         },
         [](Scene& s) {
             ASSERT_TRUE(s.report.refused);
             std::string actions;
             for (const std::string& a : s.report.actions) actions += a + "\n";
             EXPECT_TRUE(has(actions,
                             "\xAB"
                             "Ana Garc\xED"
                             "a\xBB"))
                 << actions;
         }},
        {"the state keeps a hash of each photo, and the kept copies one copy per content",
         [](Scene& s) {
             for (int i = 0; i < 20; ++i) {
                 const std::string photo(150000, static_cast<char>('A' + i % 26));
                 writeAll(s.file("p" + std::to_string(i) + ".vcf"),
                          card("N:P" + std::to_string(i) + ";Ana;;;\r\nPHOTO;ENCODING=b:" + photo +
                               "\r\n"));
             }
         },
         [](Scene& s) {
             for (int round = 0; round < 3; ++round) {
                 for (auto& [key, c] : s.book) c.notes = "vuelta";
                 s.sync();
                 for (auto& [key, c] : s.book) c.notes = "";
                 s.sync();
             }
         },
         [](Scene& s) {
             size_t state = 0, kept = 0;
             std::set<ino_t> inodes;
             for (const auto& e : fs::recursive_directory_iterator(s.bookDir)) {
                 struct stat st {};
                 if (lstat(e.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
                 if (e.path().filename().string().starts_with(".contavio-sync-"))
                     state += st.st_size;
                 if (inodes.insert(st.st_ino).second && has(e.path().string(), "tarjetas"))
                     kept += st.st_size;
             }
             EXPECT_LT(state, 100000u);
             // Six rewriting syncs of 20 cards, three contents: each kept once.
             EXPECT_LT(kept, 4u * 20 * 151000);
             const std::vector<VCard> p3 = parseVCards(readAll(s.file("p3.vcf")));
             ASSERT_EQ(p3.size(), 1u);
             EXPECT_TRUE(std::any_of(
                 p3[0].properties.begin(), p3[0].properties.end(), [](const VCardProperty& p) {
                     return p.name == "PHOTO" && p.value == std::string(150000, 'D');
                 }));
         }},
    };
    run(cases);
}

}  // namespace
}  // namespace contavio::synctest
