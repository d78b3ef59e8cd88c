#include "GuiTest.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThreadPool>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "book/Ansi.h"
#include "book/Texts.h"

namespace contavio::testing {

QString q(const char* bytes) { return fromAnsi(bytes); }

Contact person(const std::string& firstNames, const std::string& surnames,
               const std::string& address) {
    Contact contact;
    contact.firstNames = firstNames;
    contact.surnames = surnames;
    contact.address = address;
    return contact;
}

void GuiTest::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    previousFolder_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    // The user's own settings (a CardDAV account) stay out of the tests.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
    setApplicationTitle(ui(text::kAppTitle));
    setMessagePresenter([this](const MessageRequest& request) {
        shown_.push_back(request);
        if (request.choices.isEmpty()) {
            return 0;
        }
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << request.text.toStdString();
            return static_cast<int>(request.choices.size()) - 1;
        }
        auto answer = std::move(answers.front());
        answers.pop_front();
        return answer(request);
    });
}

void GuiTest::TearDown() {
    form_.reset();
    credits_.reset();
    setMessagePresenter([](const MessageRequest& request) {
        ADD_FAILURE() << "message outside a test: " << request.text.toStdString();
        return static_cast<int>(request.choices.size()) - 1;
    });
    QDir::setCurrent(previousFolder_);
}

TForm1& GuiTest::start() {
    form_.reset();
    credits_.reset();
    form_ = std::make_unique<TForm1>();
    credits_ = std::make_unique<TForm2>();
    form_->setCreditsWindow(credits_.get());
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    return *form_;
}

void GuiTest::quit() {
    ASSERT_TRUE(form_);
    menu("Salir1");
    EXPECT_TRUE(form_->closedDown());
    EXPECT_FALSE(form_->isVisible());
    form_.reset();
    credits_.reset();
}

void GuiTest::type(QWidget* field, const QString& text) {
    ASSERT_NE(field, nullptr);
    erase(field);
    if (auto* box = qobject_cast<QComboBox*>(field)) {
        field = box->lineEdit();
    }
    field->setFocus();
    // Characters without a key of their own arrive as text, as an input
    // method delivers them.
    for (qsizetype i = 0; i < text.size(); ++i) {
        QString character(text.at(i));
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            character.append(text.at(++i));
        }
        if (character == QLatin1String("\n")) {
            QTest::keyClick(field, Qt::Key_Return);
        } else {
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, character, Qt::NoModifier);
        }
    }
}

void GuiTest::erase(QWidget* field) {
    ASSERT_NE(field, nullptr);
    QWidget* target = field;
    if (auto* box = qobject_cast<QComboBox*>(field)) {
        target = box->lineEdit();
    }
    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(target, Qt::Key_Delete);
}

void GuiTest::click(const char* buttonName) {
    auto* button = find<QPushButton>(buttonName);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

void GuiTest::menu(const char* actionName) {
    auto* action = form_->findChild<QAction*>(QString::fromLatin1(actionName));
    ASSERT_NE(action, nullptr) << actionName;
    action->trigger();
}

void GuiTest::clickLine(const char* listName, int row) {
    QAbstractItemView* box = view(listName);
    ASSERT_NE(box, nullptr);
    ASSERT_LT(row, box->model()->rowCount());
    const QRect rect = box->visualRect(box->model()->index(row, 0));
    QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

QStringList GuiTest::lines(const char* listName) {
    QStringList result;
    QAbstractItemView* box = view(listName);
    if (box != nullptr) {
        const QAbstractItemModel* model = box->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            result.append(model->index(row, 0).data().toString());
        }
    }
    return result;
}

QStringList GuiTest::messages() const {
    QStringList result;
    for (const MessageRequest& request : shown_) {
        if (request.choices.isEmpty()) {
            result.append(request.text);
        }
    }
    return result;
}

std::vector<MessageRequest> GuiTest::questions() const {
    std::vector<MessageRequest> result;
    for (const MessageRequest& request : shown_) {
        if (!request.choices.isEmpty()) {
            result.push_back(request);
        }
    }
    return result;
}

void GuiTest::addContact(const QString& firstNames, const QString& surnames, const QString& address,
                         const QStringList& phones, const QStringList& emails) {
    type("LabeledEdit1", firstNames);
    type("LabeledEdit2", surnames);
    type("LabeledEdit3", address);
    list("ListBox1")->clear();
    for (const QString& phone : phones) {
        type("LabeledEdit4", phone);
        click("Button1");
    }
    list("ListBox2")->clear();
    for (const QString& email : emails) {
        type("LabeledEdit6", email);
        click("Button2");
    }
    menu("Agregar1");
}

QString GuiTest::path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

void GuiTest::readyToFork() { QThreadPool::globalInstance()->waitForDone(); }

void writeBytes(const std::string& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << file;
}

std::string readBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& file) { return std::filesystem::exists(file); }

std::vector<std::string> filesStartingWith(const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

std::string legacyText(const std::vector<Contact>& contacts, int count) {
    std::string text;
    auto line = [&text](const std::string& value) { text += value + "\r\n"; };
    line(std::to_string(count < 0 ? static_cast<int>(contacts.size()) : count));
    for (const char* header : {"0", "Contacto", "0", "8", "0", "0", "2", "0", "0", ""}) {
        line(header);
    }
    for (const Contact& c : contacts) {
        for (const std::string& field : {c.firstNames + c.surnames, c.firstNames, c.surnames,
                                         c.address, c.web, c.day, c.month, c.notes}) {
            line(field);
        }
        line(std::to_string(c.emails.size()));
        for (const std::string& email : c.emails) {
            line(email);
        }
        line(std::to_string(c.phones.size()));
        for (const std::string& phone : c.phones) {
            line(phone);
        }
        line("");
    }
    return text;
}

namespace {

bool contactIn(TConjuntos& sets, const std::string& key, Contact& contact) {
    iVector ints;
    sVector strs;
    fVector floats;
    if (!sets.sObjInfo(key, 0, 0, ints, strs, floats) || strs.size() != 8) {
        return false;
    }
    contact.firstNames = strs[1];
    contact.surnames = strs[2];
    contact.address = strs[3];
    contact.web = strs[4];
    contact.day = strs[5];
    contact.month = strs[6];
    contact.notes = strs[7];
    iVector counts;
    sMatrix lists;
    if (!sets.sObjLists(key, 0, 0, counts, lists) || lists.size() != 2) {
        return false;
    }
    contact.emails = lists[0];
    contact.phones = lists[1];
    return true;
}

}  // namespace

Book readBook(const std::string& file, int32_t key) {
    Book book;
    TConjuntos sets(1);
    try {
        sets.loadCrypt(file, 0, key);
    } catch (const std::exception& error) {
        ADD_FAILURE() << file << ": " << error.what();
        return book;
    }
    if (sets.isEmpty(0)) {
        return book;
    }
    const hashElemR* set = sets.sets[0];
    book.loaded = true;
    book.name = set->name;
    book.data = set->data;
    book.keyField = set->keyField;
    book.count = set->count;
    if (set->proto) {
        book.nStr = set->proto->nStr;
        book.nStrList = set->proto->nStrList;
    }
    sets.search(0, "", iVector{1, 2, 3}, iVector{1, 2, 3});
    VectorLineList lines;
    std::optional<sVector> texts;
    std::optional<sVector> keys;
    sets.listResults(0, lines, texts, keys);
    if (keys) {
        for (const std::string& k : *keys) {
            Contact contact;
            if (contactIn(sets, k, contact)) {
                book.contacts[k] = contact;
            }
        }
    }
    return book;
}

bool storedContact(const std::string& key, Contact& contact) {
    return gConjuntos != nullptr && contactIn(*gConjuntos, key, contact);
}

std::string readError(const std::string& file, int32_t key) {
    TConjuntos sets(1);
    try {
        sets.loadCrypt(file, 0, key);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

}  // namespace contavio::testing
