// The CardDAV account: the settings file and its mode, the certificates
// trusted server by server, and the secret store, with none and with a real
// one (tests/peers/account_secret_store.sh runs SecretStore.* inside a session with
// gnome-keyring-daemon).
#include "book/ServerAccount.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <filesystem>

namespace contavio {
namespace {

class AccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
    }
    QTemporaryDir dir_;
};

ServerAccount accountAt(const char* url, const char* fingerprint = "") {
    ServerAccount account;
    account.server = QUrl(QString::fromLatin1(url));
    account.user = QStringLiteral("ana");
    account.addressBook = QStringLiteral("contactos");
    account.trustedSha256 = fingerprint;
    return account;
}

TEST_F(AccountTest, SettingsKeepTheAccountForTheUserAloneAndTrustPerServer) {
    EXPECT_FALSE(loadServerAccount().isSet());
    ASSERT_EQ(saveServerAccount(accountAt("https://dav.example:8443/", "ab01")), QString());
    ASSERT_EQ(saveServerAccount(accountAt("https://other.example/", "cd02")), QString());

    const QString file = accountSettingsFile();
    EXPECT_EQ(file, dir_.filePath(QStringLiteral("config/Contavio/Contavio.conf")));
    EXPECT_EQ(std::filesystem::status(file.toStdString()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const ServerAccount back = loadServerAccount();
    EXPECT_EQ(back.server, QUrl(QStringLiteral("https://other.example/")));
    EXPECT_EQ(back.user, QStringLiteral("ana"));
    EXPECT_EQ(back.addressBook, QStringLiteral("contactos"));
    EXPECT_EQ(back.trustedSha256, QByteArray("cd02"));

    // A certificate is trusted for the server it was shown by, nowhere else.
    const struct {
        const char* url;
        const char* trusted;
    } rows[] = {
        {"https://dav.example:8443/other/path", "ab01"},
        {"https://DAV.example:8443/", "ab01"},
        {"https://dav.example/", ""},
        {"http://dav.example:8443/", ""},
        {"https://other.example:443/", "cd02"},
        {"https://third.example/", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(trustedCertificateFor(QUrl(QString::fromLatin1(row.url))),
                  QByteArray(row.trusted))
            << row.url;
    }
}

TEST(SecretKey, NamesUserAndOrigin) {
    EXPECT_EQ(secretKey(accountAt("https://dav.example:8443/x/")),
              QStringLiteral("carddav:ana@https://dav.example:8443"));
    EXPECT_EQ(secretKey(accountAt("http://Dav.Example/")),
              QStringLiteral("carddav:ana@http://dav.example:80"));
}

TEST_F(AccountTest, WithoutASecretStoreItSaysSo) {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(dir_.filePath(QStringLiteral("no-bus"))));
    const SecretResult stored = storePassword(accountAt("https://dav.example/"), "s3cr3t");
    const SecretResult read = readPassword(accountAt("https://dav.example/"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    EXPECT_EQ(stored.status, SecretResult::Status::NoStore) << stored.error.toStdString();
    EXPECT_EQ(read.status, SecretResult::Status::NoStore) << read.error.toStdString();
    EXPECT_TRUE(stored.error.contains(QStringLiteral("almacén de contraseñas")));
    EXPECT_FALSE(stored.error.contains(QStringLiteral("s3cr3t")));
}

// Needs a running Secret Service; the password to keep comes in the variable.
TEST_F(AccountTest, SecretStoreKeepsAndForgetsThePassword) {
    const QString password = qEnvironmentVariable("CONTAVIO_SECRET_STORE_TEST");
    if (password.isEmpty()) GTEST_SKIP() << "run by tests/peers/account_secret_store.sh";
    const ServerAccount account = accountAt("http://127.0.0.1:5232/");
    ASSERT_EQ(saveServerAccount(account), QString());
    ASSERT_EQ(storePassword(account, password).status, SecretResult::Status::Ok);
    const SecretResult read = readPassword(loadServerAccount());
    ASSERT_EQ(read.status, SecretResult::Status::Ok) << read.error.toStdString();
    EXPECT_EQ(read.password, password);
    EXPECT_EQ(readPassword(accountAt("http://127.0.0.2:5232/")).status,
              SecretResult::Status::NotFound);
    // Kept again for the script to find it in the store by its key.
    ASSERT_EQ(forgetPassword(account).status, SecretResult::Status::Ok);
    EXPECT_EQ(readPassword(account).status, SecretResult::Status::NotFound);
    ASSERT_EQ(storePassword(account, password).status, SecretResult::Status::Ok);
}

}  // namespace
}  // namespace contavio
