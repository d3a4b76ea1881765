// The texts of a message revision: sort titles, subject folders, the other
// parties, and who wrote the message.
#include "mail/TDWMessageText.h"

#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TDWImapAddress address(const char *name, const char *mailbox)
{
    return {QString::fromUtf8(name), QString::fromUtf8(mailbox)};
}

TEST(TDWMessageTextTest, SortTitleDropsReplyForwardPrefixesAndListTags)
{
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"Re: Fwd: [list] Re: Hello", "Hello"},
        {"RE:x", "x"},
        {"Fw: x", "Fw: x"},
        {"[tag] x", "x"},
        {"Re: [unclosed x", "[unclosed x"},
        {"Meeting: agenda", "Meeting: agenda"},
        {"", ""},
    };
    for (const auto &[title, sortTitle] : cases) {
        SCOPED_TRACE(title);
        EXPECT_EQ(TDWMessageText::stringByRemovingSubjectPrefixesFrom(QString::fromUtf8(title)), QString::fromUtf8(sortTitle));
    }
    EXPECT_TRUE(TDWMessageText::stringByRemovingSubjectPrefixesFrom(QString()).isNull());
}

TEST(TDWMessageTextTest, TitleAndSubjectFolder)
{
    TDWImapMessageHeader header;
    EXPECT_EQ(TDWMessageText::titleFor(header), QStringLiteral("(no subject)"));
    header.subject = QStringLiteral("");
    EXPECT_EQ(TDWMessageText::titleFor(header), QStringLiteral(""));

    EXPECT_EQ(TDWMessageText::dirNameForSubject(QString()), QStringLiteral("No Subject"));
    EXPECT_EQ(TDWMessageText::dirNameForSubject(QStringLiteral("a: b: c")), QStringLiteral("C"));
    EXPECT_EQ(TDWMessageText::dirNameForSubject(QStringLiteral("tRIP to ROME")), QStringLiteral("Trip To Rome"));
    // A subject is never a path: it stays one folder name.
    EXPECT_FALSE(TDWMessageText::dirNameForSubject(QStringLiteral("../../etc/passwd")).contains(QLatin1Char('/')));
}

TEST(TDWMessageTextTest, AddressStrings)
{
    EXPECT_EQ(TDWMessageText::stringFromAddress(address("Anna Berg", "anna@example.org")), QStringLiteral("Anna Berg"));
    EXPECT_EQ(TDWMessageText::stringFromAddress(address("", "anna@example.org")), QStringLiteral("anna@example.org"));
    EXPECT_EQ(TDWMessageText::stringFromAddress(address("", "")), QStringLiteral(""));
    EXPECT_EQ(TDWMessageText::stringFromAddressArray({address("A", "a@x"), address("", "b@x")}), QStringLiteral("A, b@x"));
    EXPECT_TRUE(TDWMessageText::stringFromAddressArray({}).isNull());
}

// Most messages carry a From and no Sender: the writer must come from From.
TEST(TDWMessageTextTest, WriterIsFromAndSenderOnlyWithoutFrom)
{
    TDWImapMessageHeader header;
    header.from = address("Anna", "anna@example.org");
    EXPECT_EQ(TDWMessageText::senderOf(header), header.from);
    header.sender = address("List Robot", "robot@example.org");
    EXPECT_EQ(TDWMessageText::senderOf(header), header.from);
    header.from = {};
    EXPECT_EQ(TDWMessageText::senderOf(header), header.sender);

    TDWImapMessageHeader plain;
    plain.from = address("Anna", "anna@example.org");
    plain.to = {address("", "alice@example.com")};
    EXPECT_EQ(TDWMessageText::whoFromMessage(plain, QStringLiteral("alice@example.com")), QStringLiteral("Anna"));
}

TEST(TDWMessageTextTest, WhoLeavesOutTheAccountInAnyCase)
{
    TDWImapMessageHeader own;
    own.from = address("", "Alice@Example.com");
    own.to = {address("Me", "ALICE@example.com")};
    own.cc = {address("Nobody", "")};
    EXPECT_EQ(TDWMessageText::whoFromMessage(own, QStringLiteral("alice@example.com")), QStringLiteral("me"));

    TDWImapMessageHeader mixed = own;
    mixed.cc = {address("Bob", "bob@example.org")};
    mixed.bcc = {address("", "carol@example.org")};
    EXPECT_EQ(TDWMessageText::whoFromMessage(mixed, QStringLiteral("alice@example.com")), QStringLiteral("Bob, carol@example.org"));
}

} // namespace
