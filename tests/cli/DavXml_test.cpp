// The server's multistatus as the sync reads it: what a well-formed answer
// holds (an address book the user may write), and every malformed one
// refused whole rather than half read. And
// which hosts the password may go to without asking: those of the account's
// registrable domain.
#include "book/DavXml.h"

#include <gtest/gtest.h>

#include "book/DavClient.h"

namespace contavio {
namespace {

const QByteArray kHead =
    R"(<?xml version="1.0"?><d:multistatus xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">)";

QByteArray response(const char* href, const QByteArray& props, const char* status = "200 OK") {
    return QByteArray("<d:response><d:href>") + href + "</d:href><d:propstat><d:prop>" + props +
           "</d:prop><d:status>HTTP/1.1 " + status + "</d:status></d:propstat></d:response>";
}

TEST(DavXml, MalformedOrForeignAnswersAreRefusedWhole) {
    const struct {
        const char* what;
        QByteArray body;
    } rows[] = {
        {"cut short", kHead + "<d:response><d:href>/a.vcf</d:href>"},
        {"no XML", "<html><body>Bienvenido</body></html>"},
        {"empty", ""},
        {"another namespace", R"(<multistatus xmlns="urn:other"><response/></multistatus>)"},
        {"garbage after the end", kHead + "</d:multistatus><oops"},
        {"mismatched tags", kHead + "<d:response></d:href></d:multistatus>"},
    };
    for (const auto& row : rows) EXPECT_FALSE(parseMultistatus(row.body)) << row.what;
}

TEST(DavXml, ACardsTextAndEtagComeThroughAndGoneOnesAreMarked) {
    const QByteArray body =
        kHead +
        response("/u/book/a.vcf",
                 "<d:getetag>\"e1\"</d:getetag><c:address-data>BEGIN:VCARD&#13;\nFN:Ana &amp; "
                 "Luis&#13;\nEND:VCARD&#13;\n</c:address-data>") +
        "<d:response><d:href>/u/book/b.vcf</d:href><d:status>HTTP/1.1 404 Not "
        "Found</d:status></d:response>" +
        response("/u/book/", "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>") +
        response("/u/book/c.vcf", "<d:getetag>\"x\"</d:getetag>", "404 Not Found") +
        "<d:sync-token>http://s/1</d:sync-token></d:multistatus>";
    const auto status = parseMultistatus(body);
    ASSERT_TRUE(status);
    ASSERT_EQ(status->resources.size(), 4u);
    EXPECT_EQ(status->resources[0].props.value("getetag"), "\"e1\"");
    EXPECT_EQ(status->resources[0].props.value("address-data"),
              "BEGIN:VCARD\r\nFN:Ana & Luis\r\nEND:VCARD\r\n");
    EXPECT_EQ(status->resources[1].status, 404);
    EXPECT_TRUE(status->resources[2].isAddressBook());
    EXPECT_FALSE(status->resources[3].props.contains("getetag")) << "a property not found";
    EXPECT_EQ(status->syncToken, "http://s/1");
}

TEST(DavXml, AnAddressBookIsWritableByTheUsersPrivileges) {
    const auto set = [](const char* privileges) {
        return QByteArray("<d:current-user-privilege-set>") + privileges +
               "</d:current-user-privilege-set>";
    };
    const struct {
        const char* what;
        QByteArray props;
        const char* status;
        bool mayWrite;
    } rows[] = {
        {"none reported", "<d:displayname>L</d:displayname>", "200 OK", true},
        {"none found", set("<d:privilege><d:read/></d:privilege>"), "404 Not Found", true},
        {"read only",
         set("<d:privilege><d:read/></d:privilege><d:privilege><d:read-acl/></d:privilege>"),
         "200 OK", false},
        {"the name only", set("<d:privilege><d:write-properties/></d:privilege>"), "200 OK", false},
        {"none", set(""), "200 OK", false},
        {"another namespace's write",
         set(R"(<d:privilege><x:write xmlns:x="urn:other"/></d:privilege>)"), "200 OK", false},
        {"write", set("<d:privilege><d:read/></d:privilege><d:privilege><d:write/></d:privilege>"),
         "200 OK", true},
        {"all", set("<d:privilege><d:all/></d:privilege>"), "200 OK", true},
        {"write-content", set("<d:privilege><d:write-content/></d:privilege>"), "200 OK", true},
    };
    for (const auto& row : rows) {
        const auto status =
            parseMultistatus(kHead + response("/u/b/", row.props, row.status) + "</d:multistatus>");
        ASSERT_TRUE(status) << row.what;
        EXPECT_EQ(status->resources.at(0).mayWrite(), row.mayWrite) << row.what;
    }
}

TEST(PasswordHosts, OnlyTheAccountsRegistrableDomain) {
    const struct {
        const char *account, *other;
        bool same;
    } rows[] = {
        {"contacts.icloud.com", "p07-contacts.icloud.com", true},
        {"fastmail.com", "carddav.fastmail.com", true},
        {"dav.example.co.uk", "Cloud.Example.co.uk", true},
        {"dav.example.com", "dav.example.com.evil.net", false},
        {"example.co.uk", "other.co.uk", false},  // co.uk is a public suffix
        {"ana.github.io", "eva.github.io", false},
        {"127.0.0.1", "127.0.0.2", false},
        {"localhost", "localhost", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(
            sameRegistrableDomain(QString::fromLatin1(row.account), QString::fromLatin1(row.other)),
            row.same)
            << row.account << " " << row.other;
    }
}

}  // namespace
}  // namespace contavio
