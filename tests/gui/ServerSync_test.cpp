// The window and a real CardDAV server: Radicale, started here on 127.0.0.1
// with a user in an htpasswd file and one address book, ended by its process
// id. "Cuenta CardDAV..." probes it, "Sincronizar ahora" brings its cards in
// and sends the window's contacts, and close-down sends what was added last.
// A sync nobody asked for never waits on a message box, and a termination
// signal saves the book and ends the program whatever a sync is doing.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "GuiTest.h"
#include "app/AccountDialog.h"
#include "app/ServerSyncRunner.h"
#include "app/Signals.h"
#include "book/ServerAccount.h"

namespace contavio::testing {
namespace {

constexpr int kWaitMsecs = 20000;
// How long a signal may take to end the program with a small book (the
// README's bound): less than close-down's wait for the server.
constexpr int kSignalMsecs = 5000;

// A command line's words, split at blanks.
QStringList words(const QString& line) { return line.split(QLatin1Char(' ')); }

class ServerSyncTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (QStandardPaths::findExecutable(QStringLiteral("radicale")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
            GTEST_SKIP() << "radicale and curl are needed";
        }
        QTcpServer probe;  // a free port: the one the system gives
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        writeBytes("users", "ana:clave\n");
        QStringList args = words(QStringLiteral("--server-hosts %1 --storage-filesystem-folder %2 "
                                                "--auth-type htpasswd --auth-htpasswd-filename %3 "
                                                "--auth-htpasswd-encryption plain")
                                     .arg(hostPort, path("server"), path("users")));
        base_ = QStringLiteral("http://") + hostPort + QLatin1Char('/');
        if (https_) {
            // A certificate of this test's own, which no authority vouches for.
            QProcess openssl;  // its progress dots stay out of the test's output
            openssl.setStandardErrorFile(QProcess::nullDevice());
            openssl.start(QStringLiteral("openssl"),
                          words(QStringLiteral("req -x509 -newkey rsa:2048 -nodes -keyout %1 -out "
                                               "%2 -days 2 -subj /CN=127.0.0.1 -addext "
                                               "subjectAltName=IP:127.0.0.1")
                                    .arg(path("key.pem"), path("cert.pem"))));
            ASSERT_TRUE(openssl.waitForFinished(kWaitMsecs));
            ASSERT_EQ(openssl.exitCode(), 0);
            args << words(
                QStringLiteral("--server-ssl True --server-certificate %1 --server-key %2")
                    .arg(path("cert.pem"), path("key.pem")));
            base_ = QStringLiteral("https://") + hostPort + QLatin1Char('/');
        }
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start(QStringLiteral("radicale"), args);
        ASSERT_TRUE(server_.waitForStarted());
        for (int tries = 0; curl({base_}).isNull(); ++tries) {
            ASSERT_LT(tries, 100) << server_.readAll().toStdString();
            QTest::qWait(100);
        }
        ASSERT_FALSE(
            curl(words(QStringLiteral("-X MKCOL -H Content-Type:application/xml")) +
                 QStringList{QStringLiteral("--data"), QString::fromLatin1(kAddressBook), book()})
                .isNull());
    }
    void TearDown() override {
        if (server_.state() != QProcess::NotRunning) {
            server_.kill();  // its own process id
            server_.waitForFinished();
        }
        GuiTest::TearDown();
    }

    QString book() const { return base_ + QStringLiteral("ana/contactos/"); }

    // The line below the window once no sync runs; empty while one does.
    QString settledStatus() {
        const auto* status = form().findChild<QLabel*>(QStringLiteral("SyncStatus"));
        if (status == nullptr || status->text().startsWith(QStringLiteral("Sincronizando")))
            return {};
        return status->text();
    }

    // curl as ana; the body, or a null text when curl failed.
    QByteArray curl(const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral("curl"),
                      words(QStringLiteral("-u ana:clave -sf")) + args +
                          (https_ ? QStringList{QStringLiteral("--cacert"), path("cert.pem")}
                                  : QStringList{}));
        if (!process.waitForFinished(kWaitMsecs) || process.exitCode() != 0) return {};
        QByteArray body = process.readAllStandardOutput();
        return body.isNull() ? QByteArray("") : body;
    }

    // A card put on the server by another program.
    void putBerta(const char* address = "", const char* phone = "555-0101") {
        const QString card = QStringLiteral(
                                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:berta\r\nN:Servidor;Berta;;;"
                                 "\r\nFN:Berta Servidor\r\nADR:;;%1;;;;\r\nTEL:%2\r\nEND:VCARD\r\n")
                                 .arg(QString::fromLatin1(address), QString::fromLatin1(phone));
        ASSERT_FALSE(curl(words(QStringLiteral("-X PUT -H Content-Type:text/vcard --data-binary")) +
                          QStringList{card, book() + QStringLiteral("berta.vcf")})
                         .isNull());
    }
    // Opens "Cuenta CardDAV..." and types the account into it.
    AccountDialog* openAccount(const QString& password) {
        menu("CuentaCardDAV1");
        auto* dialog = form().findChild<AccountDialog*>();
        EXPECT_NE(dialog, nullptr);
        if (dialog == nullptr) return nullptr;
        type(dialog->findChild<QLineEdit*>(QStringLiteral("ServerEdit")), base_);
        type(dialog->findChild<QLineEdit*>(QStringLiteral("UserEdit")), QStringLiteral("ana"));
        type(dialog->findChild<QLineEdit*>(QStringLiteral("PasswordEdit")), password);
        return dialog;
    }
    // The account kept with "Guardar"; without a secret store here, the
    // password stays for the session, which the message says.
    void keepAccount() {
        AccountDialog* dialog = openAccount(QStringLiteral("clave"));
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("SaveButton")),
                          Qt::LeftButton);
        QTest::qWait(0);
        EXPECT_EQ(form().findChild<AccountDialog*>(), nullptr);
    }

    static constexpr char kAddressBook[] =
        "<?xml version=\"1.0\"?><D:mkcol xmlns:D=\"DAV:\" "
        "xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop><D:resourcetype>"
        "<D:collection/><C:addressbook/></D:resourcetype><D:displayname>contactos"
        "</D:displayname></D:prop></D:set></D:mkcol>";

    bool https_ = false;
    QString base_;
    QProcess server_;
};

class HttpsServerSyncTest : public ServerSyncTest {
  protected:
    void SetUp() override {
        https_ = true;
        ServerSyncTest::SetUp();
    }
};

TEST_F(ServerSyncTest, ProbeFindsTheAddressBookOrSaysThePasswordIsWrong) {
    const struct {
        const char* password;
        const char* said;
    } rows[] = {
        {"clave", "contactos"},
        {"otra",
         "contrase\xF1"
         "a"},
    };
    start();
    for (const auto& row : rows) {
        AccountDialog* dialog = openAccount(q(row.password));
        ASSERT_NE(dialog, nullptr);
        QSignalSpy probed(dialog, &AccountDialog::probed);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("ProbeButton")),
                          Qt::LeftButton);
        EXPECT_TRUE(dialog->probing());  // the answer comes while the dialog stays usable
        ASSERT_TRUE(probed.wait(kWaitMsecs)) << row.password;
        const QString said = dialog->findChild<QLabel*>(QStringLiteral("StatusLabel"))->text();
        EXPECT_TRUE(said.contains(q(row.said), Qt::CaseInsensitive)) << said.toStdString();
        EXPECT_FALSE(said.contains(q(row.password))) << said.toStdString();
        dialog->reject();
        QTest::qWait(0);
    }
    quit();
}

TEST_F(ServerSyncTest, SyncNowBringsTheServersCardsAndSendsTheWindowsContacts) {
    putBerta();
    start();
    keepAccount();
    addContact(QStringLiteral("Ana"), QStringLiteral("Ventana"));
    forgetMessages();
    auto* runner = form().findChild<ServerSyncRunner*>();
    ASSERT_NE(runner, nullptr);
    QSignalSpy told(runner, &ServerSyncRunner::status);
    menu("Sincronizar1");
    EXPECT_EQ(label("SyncStatus")->text(), QStringLiteral("Sincronizando con el servidor..."));
    QTRY_VERIFY_WITH_TIMEOUT(!messages().isEmpty(), kWaitMsecs);
    // While it ran, the status said how far it had come.
    QStringList lines;
    for (const QList<QVariant>& line : told) lines << line.at(0).toString();
    for (const char* line :
         {"Sincronizando con el servidor... Tarjetas le\xED"
          "das del servidor: 1 de 1",
          "Sincronizando con el servidor... Tarjetas enviadas al servidor: 1 de 1"})
        EXPECT_TRUE(lines.contains(q(line))) << lines.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(messages().first().startsWith(q("Sincronizaci\xF3n terminada")))
        << messages().first().toStdString();
    EXPECT_EQ(label("SyncStatus")->text(), messages().first().section(QLatin1Char('\n'), 0, 0));

    Contact berta;
    ASSERT_TRUE(storedContact("BertaServidor", berta));
    EXPECT_EQ(berta.phones, std::vector<std::string>{"555-0101"});
    EXPECT_EQ(label("Label11")->text(), QStringLiteral("Soluciones: 2"));  // shown at once
    EXPECT_TRUE(curl({book()}).contains("Ventana"));
    quit();
}

TEST_F(ServerSyncTest, CloseDownSendsWhatWasAddedBeforeTheSave) {
    start();
    keepAccount();
    addContact(QStringLiteral("Carla"), QStringLiteral("Cierre"));
    forgetMessages();
    quit();
    EXPECT_TRUE(messages().isEmpty()) << messages().join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(curl({book()}).contains("Cierre"));
    EXPECT_TRUE(readBook("data.vlt").contacts.count("CarlaCierre"));
    // The state of the sync is written after the save.
    EXPECT_FALSE(QDir()
                     .entryList({QStringLiteral(".contavio-server-*")}, QDir::Files | QDir::Hidden)
                     .isEmpty());
}

TEST_F(ServerSyncTest, AContactChangedWhileTheSyncRunsKeepsTheUsersVersion) {
    putBerta();
    start();
    keepAccount();
    forgetMessages();
    menu("Sincronizar1");
    QTRY_VERIFY_WITH_TIMEOUT(!messages().isEmpty(), kWaitMsecs);
    putBerta("Calle del Servidor 1", "555-0202");  // changed on the server
    forgetMessages();
    menu("Sincronizar1");
    // The answer is taken only when events run again: this edit comes first.
    addContact(QStringLiteral("Berta"), QStringLiteral("Servidor"), QStringLiteral("Casa"));
    QTRY_VERIFY_WITH_TIMEOUT(!messages().isEmpty(), kWaitMsecs);
    EXPECT_TRUE(messages().first().contains(q("cambi\xF3 mientras se sincronizaba")))
        << messages().first().toStdString();
    Contact berta;
    ASSERT_TRUE(storedContact("BertaServidor", berta));
    EXPECT_EQ(berta.address, "Casa");
    EXPECT_TRUE(berta.phones.empty());
    quit();
}

// A server killed refuses the connection; one stopped (SIGSTOP) takes it and
// never answers, and the sync in flight is cancelled instead of waiting out
// the silence time-out (30 s).
TEST_F(ServerSyncTest, CloseDownWithTheServerGoneSavesTheBookFirstAndAsksNothing) {
    const struct {
        const char* what;
        bool stop;
        const char* name;
    } rows[] = {{"stopped, never answering", true, "Dora"}, {"killed", false, "Elsa"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        start();
        keepAccount();
        addContact(q(row.name), QStringLiteral("Fuera"));
        if (row.stop) {
            ::kill(static_cast<pid_t>(server_.processId()), SIGSTOP);
        } else {
            server_.kill();
            server_.waitForFinished();
        }
        forgetMessages();
        const std::string key = std::string(row.name) + "Fuera";
        // While the sync at close still waits for the server, the book is saved.
        bool savedFirst = false;
        QTimer probe;
        probe.setSingleShot(true);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            savedFirst = fileExists("data.vlt") && readBook("data.vlt").contacts.count(key);
        });
        if (row.stop) probe.start(1000);
        QElapsedTimer clock;
        clock.start();
        quit();
        EXPECT_LT(clock.elapsed(), 9000);
        EXPECT_TRUE(readBook("data.vlt").contacts.count(key));
        EXPECT_TRUE(savedFirst || !row.stop);
        EXPECT_TRUE(messages().isEmpty()) << messages().join(QStringLiteral(" | ")).toStdString();
    }
}

// After start-up, without a password or without the server, the window says
// so on its status line only, at this start and the next; a signal then
// saves the session's edits and ends the program.
TEST_F(ServerSyncTest, SyncAfterStartUpNeverWaitsOnTheUser) {
    const struct {
        const char* what;
        bool passwordKept;  // needs a secret store (tests/peers/window_session.sh)
        const char* said;
    } rows[] = {
        {"no password: no secret store, or none kept in it", false, "No se sincroniz\xF3: "},
        {"the server down", true, "No se pudo sincronizar con el servidor: "},
    };
    ServerAccount account;
    account.server = QUrl(base_);
    account.user = QStringLiteral("ana");
    ASSERT_EQ(saveServerAccount(account), QString());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.passwordKept) {
            if (qEnvironmentVariableIsEmpty("CONTAVIO_SECRET_STORE_TEST")) continue;
            ASSERT_EQ(storePassword(account, QStringLiteral("clave")).status,
                      SecretResult::Status::Ok);
            server_.kill();
            server_.waitForFinished();
        }
        for (const char* name : {"Ines", "Julia"}) {  // this start and the next
            TerminationWatcher watcher;
            start();
            forgetMessages();  // the first start's "No se pudo abrir: data.vlt"
            watcher.watch(&form());
            addContact(q(name), QStringLiteral("Arranque"));
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return !messages().isEmpty() || !settledStatus().isEmpty(); }, kWaitMsecs));
            EXPECT_TRUE(messages().isEmpty())
                << messages().join(QStringLiteral(" | ")).toStdString();
            EXPECT_TRUE(settledStatus().startsWith(q(row.said))) << settledStatus().toStdString();
            ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
            EXPECT_TRUE(QTest::qWaitFor([this] { return form().closedDown(); }, kSignalMsecs));
            EXPECT_TRUE(readBook("data.vlt").contacts.count(std::string(name) + "Arranque"));
        }
    }
}

// A signal while a sync waits for a server that never answers: the asked
// sync, and the one at close (once the book is saved, the process ends).
TEST_F(ServerSyncTest, SignalDuringASyncSavesTheBookAndEndsAtOnce) {
    for (const bool atClose : {false, true}) {
        SCOPED_TRACE(atClose ? "the sync at close" : "a sync asked for");
        // No sync after start-up: the only one is the one the row runs.
        QFile::remove(accountSettingsFile());
        start();
        keepAccount();
        addContact(QStringLiteral("Gala"), QStringLiteral("Senal"));
        ::kill(static_cast<pid_t>(server_.processId()), SIGSTOP);
        TerminationWatcher watcher(&form());
        forgetMessages();
        QElapsedTimer clock;
        clock.start();
        if (atClose) {
            readyToFork();
            EXPECT_EXIT(
                {
                    QTimer::singleShot(500, [] { ::kill(::getpid(), SIGTERM); });
                    menu("Salir1");
                },
                ::testing::ExitedWithCode(0), "");
        } else {
            menu("Sincronizar1");
            ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
            EXPECT_TRUE(QTest::qWaitFor([this] { return form().closedDown(); }, kSignalMsecs));
            EXPECT_TRUE(messages().isEmpty())
                << messages().join(QStringLiteral(" | ")).toStdString();
        }
        EXPECT_LT(clock.elapsed(), kSignalMsecs);
        EXPECT_TRUE(readBook("data.vlt").contacts.count("GalaSenal"));
        ::kill(static_cast<pid_t>(server_.processId()), SIGCONT);
    }
}

TEST_F(HttpsServerSyncTest, AnUntrustedCertificateIsShownAndTrustedForThisServerOnly) {
    QProcess openssl;
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("x509"), QStringLiteral("-in"), path("cert.pem"), QStringLiteral("-noout"),
         QStringLiteral("-fingerprint"), QStringLiteral("-sha256")});
    ASSERT_TRUE(openssl.waitForFinished());
    const QString fingerprint =
        QString::fromLatin1(openssl.readAllStandardOutput()).section(QLatin1Char('='), 1).trimmed();
    ASSERT_EQ(fingerprint.size(), 95);  // 32 pairs and their colons

    start();
    AccountDialog* dialog = openAccount(QStringLiteral("clave"));
    ASSERT_NE(dialog, nullptr);
    QSignalSpy probed(dialog, &AccountDialog::probed);
    auto* trust = dialog->findChild<QPushButton*>(QStringLiteral("TrustButton"));
    auto* status = dialog->findChild<QLabel*>(QStringLiteral("StatusLabel"));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("ProbeButton")),
                      Qt::LeftButton);
    ASSERT_TRUE(probed.wait(kWaitMsecs));
    EXPECT_TRUE(status->text().contains(fingerprint, Qt::CaseInsensitive))
        << status->text().toStdString();
    EXPECT_FALSE(status->text().contains(QStringLiteral("contactos")));
    ASSERT_TRUE(trust->isVisible());

    QTest::mouseClick(trust, Qt::LeftButton);  // trusts it and asks again
    ASSERT_TRUE(probed.wait(kWaitMsecs));
    EXPECT_TRUE(status->text().contains(QStringLiteral("contactos")))
        << status->text().toStdString();
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("SaveButton")),
                      Qt::LeftButton);
    const QByteArray kept = trustedCertificateFor(QUrl(base_));
    EXPECT_EQ(QString::fromLatin1(kept).remove(QLatin1Char(':')).toUpper(),
              QString(fingerprint).remove(QLatin1Char(':')));
    EXPECT_TRUE(trustedCertificateFor(QUrl(QString(base_).replace(QStringLiteral("127.0.0.1"),
                                                                  QStringLiteral("localhost"))))
                    .isEmpty());
    // The window syncs over it, and the command line finds it trusted too.
    forgetMessages();
    menu("Sincronizar1");
    QTRY_VERIFY_WITH_TIMEOUT(!messages().isEmpty(), kWaitMsecs);
    EXPECT_TRUE(messages().first().startsWith(q("Sincronizaci\xF3n terminada")))
        << messages().first().toStdString();
    EXPECT_EQ(QDir()
                  .entryList({QStringLiteral(".contavio-server-*-certificado")},
                             QDir::Files | QDir::Hidden)
                  .size(),
              1);
    quit();
}

// Needs a running Secret Service (tests/peers/account_secret_store.sh runs it): the
// password comes from it, and the sync after start-up needs nobody.
TEST_F(ServerSyncTest, StartUpSyncTakesThePasswordFromTheSecretStore) {
    if (qEnvironmentVariableIsEmpty("CONTAVIO_SECRET_STORE_TEST")) {
        GTEST_SKIP() << "run by tests/peers/account_secret_store.sh";
    }
    putBerta();
    ServerAccount account;
    account.server = QUrl(base_);
    account.user = QStringLiteral("ana");
    ASSERT_EQ(saveServerAccount(account), QString());
    ASSERT_EQ(storePassword(account, QStringLiteral("clave")).status, SecretResult::Status::Ok);
    start();
    Contact berta;
    QTRY_VERIFY_WITH_TIMEOUT(storedContact("BertaServidor", berta), kWaitMsecs);
    EXPECT_EQ(label("Label11")->text(), QStringLiteral("Soluciones: 1"));
    for (const QString& message : messages()) {  // a new book is said; the sync is not
        EXPECT_FALSE(message.contains(q("sincronizaci\xF3n"), Qt::CaseInsensitive))
            << message.toStdString();
    }
    quit();
}

}  // namespace
}  // namespace contavio::testing
