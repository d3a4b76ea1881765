#include "ImapTestPrinters.h"

#include "platform/imap/TDWImapModifiedUtf7.h"

#include <gtest/gtest.h>

namespace {

TEST(ImapModifiedUtf7, DecodesWireNames)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"INBOX", "INBOX"},
        {"Entw&APw-rfe", QString::fromUtf8("Entwürfe")},
        {"&AGEAYgBj-", "abc"},
        {"A&-B", "A&B"},
        {"&-&-", "&&"},
        {"~peter/mail/&U,BTFw-/&ZeVnLIqe-", QString::fromUtf8("~peter/mail/台北/日本語")},
        {"[Gmail]/Entw&APw-rfe/&AMQ-", QString::fromUtf8("[Gmail]/Entwürfe/Ä")},
        // A character outside the BMP travels as a surrogate pair.
        {"&2D3eAA-", QString::fromUtf8("😀")},
        // Not valid runs: kept as written rather than turned into garbage.
        {"A&B", "A&B"},
        {"Entw&APw", "Entw&APw"},
        {"&A*B-", "&A*B-"},
        {"&AGE-", "a"},
        {"&AGEA-", "&AGEA-"},        // three bytes: half a UTF-16 unit left over
        {"&A-", "&A-"},              // six bits cannot hold a byte
        {"x&!-y&AGEAYgBj-", "x&!-yabc"},
        // Whole UTF-16 units that are no characters: a lone high or low
        // surrogate, a reversed pair, two highs, a pair cut across two runs.
        {"&2D0-", "&2D0-"},
        {"&3gA-", "&3gA-"},
        {"&3gDYPQ-", "&3gDYPQ-"},
        {"&2D3YPQ-", "&2D3YPQ-"},
        {"a&AGHYPQ-", "a&AGHYPQ-"},
        {"&3gAAYQ-b", "&3gAAYQ-b"},
        {"&2D0-&3gA-", "&2D0-&3gA-"},
        {"&2D0-x&AGE-", "&2D0-xa"},
    };
    for (const auto &[encoded, decoded] : cases) {
        const QString name = TDWImapModifiedUtf7::decode(encoded);
        EXPECT_EQ(name, decoded) << encoded.toStdString();
        // Nothing is lost on the way to UTF-8, so no two names can meet there.
        EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name) << encoded.toStdString();
    }
}

TEST(ImapModifiedUtf7, TellsWhetherEveryRunWasValid)
{
    const std::vector<std::pair<QString, bool>> cases = {
        {"INBOX", true},
        {"Entw&APw-rfe", true},
        {"A&-B", true},
        {"Entw&APw", true},   // no closing "-": no run at all
        {"&A*B-", false},
        {"&AGEA-", false},
        {"&A-", false},
        {"x&!-y&AGEAYgBj-", false},
        {"x&AGEAYgBj-y&!-", false},
        {"&2D3eAA-", true},
        {"&2D0-", false},
        {"&3gDYPQ-", false},
    };
    for (const auto &[encoded, valid] : cases) {
        bool allRunsValid = !valid;
        TDWImapModifiedUtf7::decode(encoded, &allRunsValid);
        EXPECT_EQ(allRunsValid, valid) << encoded.toStdString();
    }
}

TEST(ImapModifiedUtf7, EncodesAndRoundTrips)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"INBOX", "INBOX"},
        {QString::fromUtf8("Entwürfe"), "Entw&APw-rfe"},
        {"A&B", "A&-B"},
        {QString::fromUtf8("台北"), "&U,BTFw-"},
        {QString::fromUtf8("Grüße & Küsse"), "Gr&APwA3w-e &- K&APw-sse"},
        {QString::fromUtf8("😀"), "&2D3eAA-"},
        {"Tab\there", "Tab&AAk-here"},
    };
    for (const auto &[decoded, encoded] : cases) {
        EXPECT_EQ(TDWImapModifiedUtf7::encode(decoded), encoded) << decoded.toStdString();
        EXPECT_EQ(TDWImapModifiedUtf7::decode(encoded), decoded) << encoded.toStdString();
    }
}

} // namespace
