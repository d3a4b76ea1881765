#include "ImapTestPrinters.h"

#include "platform/imap/TDWImapMessageHeader.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

TEST(ImapMessageHeader, ReadsTheFieldsABackupKeeps)
{
    const QByteArray bytes =
        "Date: Wed, 13 Jan 2010 21:32:22 +0100\r\n"
        "Subject: =?UTF-8?B?R3LDvMOfZTogSGVsbG8=?=\r\n"
        "From: =?ISO-8859-1?Q?J=F6rg?= Meyer <joerg@example.org>\r\n"
        "Sender: List <list-bounces@example.org>\r\n"
        "To: alice@example.com, \"Smith, Ben\" <ben@example.org>\r\n"
        "Cc: Team: anna@example.org, Iris <iris@example.org>;\r\n"
        "Bcc: <hidden@example.org>\r\n"
        "Message-ID: <abc.1@gen.example.org>\r\n"
        "References: <r1@x> <r2@y>\r\n"
        "\r\n";
    const TDWImapMessageHeader h = TDWImapMessageHeader::fromBytes(bytes);
    EXPECT_EQ(h.date, QDateTime(QDate(2010, 1, 13), QTime(20, 32, 22), QTimeZone::utc()));
    EXPECT_EQ(h.date.offsetFromUtc(), 3600);
    EXPECT_EQ(h.subject, QString::fromUtf8("Grüße: Hello"));
    EXPECT_EQ(h.from, (TDWImapAddress{QString::fromUtf8("Jörg Meyer"), "joerg@example.org"}));
    EXPECT_EQ(h.sender, (TDWImapAddress{"List", "list-bounces@example.org"}));
    EXPECT_EQ(h.to, (QList<TDWImapAddress>{{"", "alice@example.com"}, {"Smith, Ben", "ben@example.org"}}));
    EXPECT_EQ(h.cc, (QList<TDWImapAddress>{{"", "anna@example.org"}, {"Iris", "iris@example.org"}}));
    EXPECT_EQ(h.bcc, (QList<TDWImapAddress>{{"", "hidden@example.org"}}));
    EXPECT_EQ(h.messageID, "abc.1@gen.example.org");
    EXPECT_EQ(h.references, (QStringList{"r1@x", "r2@y"}));
}

TEST(ImapMessageHeader, AbsentFieldsStayNullAndAnEmptySubjectStaysEmpty)
{
    const TDWImapMessageHeader absent = TDWImapMessageHeader::fromBytes("From: a@example.org\r\n");
    EXPECT_TRUE(absent.subject.isNull());
    EXPECT_FALSE(absent.date.isValid());
    EXPECT_TRUE(absent.messageID.isNull());
    EXPECT_TRUE(absent.to.isEmpty());
    EXPECT_EQ(absent.sender, TDWImapAddress());
    EXPECT_EQ(absent.from.mailbox, "a@example.org");

    const TDWImapMessageHeader empty = TDWImapMessageHeader::fromBytes("Subject: \r\nDate: Sun, 10 Jan 2010 00:31:46 -0000\r\n\r\n");
    EXPECT_FALSE(empty.subject.isNull());
    EXPECT_TRUE(empty.subject.isEmpty());
    EXPECT_EQ(empty.date, QDateTime(QDate(2010, 1, 10), QTime(0, 31, 46), QTimeZone::utc()));

    EXPECT_EQ(TDWImapMessageHeader::fromBytes(""), TDWImapMessageHeader());
    EXPECT_TRUE(TDWImapMessageHeader::fromBytes("\r\n").subject.isNull());
}

TEST(ImapMessageHeader, EightBitHeadersAndFoldedLinesAreRead)
{
    const TDWImapMessageHeader h = TDWImapMessageHeader::fromBytes(
        "Subject: Caf\xe9 au lait\r\n"
        "  und Kuchen\r\n"
        "To: undisclosed-recipients:;\r\n");
    EXPECT_EQ(h.subject, QString::fromUtf8("Café au lait  und Kuchen"));
    EXPECT_TRUE(h.to.isEmpty());
}

} // namespace
