// The reader cuts a byte stream into responses whatever the chunking, keeps
// small literals inline and streams claimed or oversized ones out of memory.
#include "ImapTestPrinters.h"

#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapResponseReader.h"

#include <gtest/gtest.h>

namespace {

struct Collected
{
    QList<QByteArray> texts;
    QList<int> sinkCounts;
};

Collected feedInChunks(TDWImapResponseReader &reader, const QByteArray &stream, qsizetype chunk, bool *ok = nullptr)
{
    Collected out;
    reader.setResponseHandler([&](const QByteArray &text, const QList<TDWImapBodySink *> &sinks) {
        out.texts.append(text);
        out.sinkCounts.append(int(sinks.size()));
    });
    bool fine = true;
    for (qsizetype pos = 0; pos < stream.size() && fine; pos += chunk)
        fine = reader.feed(stream.constData() + pos, std::min(chunk, stream.size() - pos));
    if (ok)
        *ok = fine;
    return out;
}

const QByteArray Stream =
    "* OK [CAPABILITY IMAP4rev1] ready\r\n"
    // Status and continuation text may end in what looks like a literal announcement.
    "* OK [ALERT] quota at {3}\r\n"
    "+ go on {2}\r\n"
    "a0 no over {10}\r\n"
    "* BYE later {1}\r\n"
    "* 1 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] {14}\r\nSubject: x\r\n\r\n FLAGS (\\Seen))\r\n"
    "* 2 FETCH (UID 8 BODY[] {0}\r\n)\r\n"
    "* LIST () \"/\" {4+}\r\nWork\r\n"
    "\r\n"
    "a1 OK done\n";

const QList<QByteArray> Expected = {
    "* OK [CAPABILITY IMAP4rev1] ready",
    "* OK [ALERT] quota at {3}",
    "+ go on {2}",
    "a0 no over {10}",
    "* BYE later {1}",
    "* 1 FETCH (UID 7 BODY[HEADER.FIELDS (SUBJECT)] {14}\r\nSubject: x\r\n\r\n FLAGS (\\Seen))",
    "* 2 FETCH (UID 8 BODY[] {0}\r\n)",
    "* LIST () \"/\" {4+}\r\nWork",
    "a1 OK done",
};

TEST(ImapResponseReader, FramesTheSameWhateverTheChunkSize)
{
    for (qsizetype chunk : {1, 2, 3, 7, 16, 64, 4096}) {
        TDWImapResponseReader reader;
        bool ok = false;
        const Collected got = feedInChunks(reader, Stream, chunk, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(got.texts, Expected) << "chunk " << chunk;
        EXPECT_TRUE(reader.isBetweenResponses());
    }
}

TEST(ImapResponseReader, StreamsAClaimedLiteralToItsSinkAndLeavesNil)
{
    const QByteArray body = QByteArray(100000, 'x') + "\r\nend\r\n";
    const QByteArray stream = "* 3 FETCH (UID 9 BODY[] {" + QByteArray::number(body.size()) + "}\r\n" + body + " FLAGS ())\r\n";
    for (qsizetype chunk : {1, 1000, 65536}) {
        TDWImapResponseReader reader;
        TDWImapBodySink sink;
        QByteArray seenBefore;
        reader.setLiteralRouter([&](const QByteArray &earlier, const QByteArray &line, qint64 size) -> TDWImapBodySink * {
            seenBefore = earlier + line;
            EXPECT_EQ(size, body.size());
            return &sink;
        });
        const Collected got = feedInChunks(reader, stream, chunk);
        ASSERT_EQ(got.texts.size(), 1);
        EXPECT_EQ(got.texts[0], "* 3 FETCH (UID 9 BODY[] NIL FLAGS ())");
        EXPECT_EQ(got.sinkCounts[0], 1);
        EXPECT_EQ(seenBefore, "* 3 FETCH (UID 9 BODY[] ");
        EXPECT_EQ(sink.data(), body);
        EXPECT_EQ(sink.expectedSize(), body.size());
    }
}

TEST(ImapResponseReader, SkipsUnclaimedLiteralsOverTheInlineLimit)
{
    TDWImapResponseReader::Limits limits;
    limits.maxInlineLiteral = 10;
    TDWImapResponseReader reader(limits);
    const QByteArray stream = "* 1 FETCH (X-BIG {11}\r\nhello world UID 1 X-SMALL {3}\r\nabc)\r\n";
    const Collected got = feedInChunks(reader, stream, 5);
    ASSERT_EQ(got.texts.size(), 1);
    EXPECT_EQ(got.texts[0], "* 1 FETCH (X-BIG NIL UID 1 X-SMALL {3}\r\nabc)");
    EXPECT_EQ(reader.skippedLiteralBytes(), 11);
}

TEST(ImapResponseReader, FailsOnLinesAndResponsesOverTheirLimits)
{
    struct Case
    {
        const char *name;
        TDWImapResponseReader::Limits limits;
        QByteArray stream;
    };
    TDWImapResponseReader::Limits shortLines;
    shortLines.maxLine = 16;
    TDWImapResponseReader::Limits shortResponses;
    shortResponses.maxResponse = 40;
    const std::vector<Case> cases = {
        {"line without end", shortLines, QByteArray(17, 'a')},
        {"long line", shortLines, "* OK " + QByteArray(20, 'a') + "\r\n"},
        {"many inline literals", shortResponses, "* 1 FETCH (A {10}\r\n0123456789 B {10}\r\n0123456789 C {10}\r\n0123456789)\r\n"},
        {"absurd literal", {}, "* 1 FETCH (BODY[] {99999999999999}\r\n"},
        {"literal size past 64 bits", {}, "* 1 FETCH (BODY[] {123456789012345678901234}\r\n"},
    };
    for (const Case &c : cases) {
        TDWImapResponseReader reader(c.limits);
        bool ok = true;
        const Collected got = feedInChunks(reader, c.stream, 4, &ok);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_FALSE(reader.errorString().isEmpty()) << c.name;
        EXPECT_TRUE(got.texts.isEmpty()) << c.name;
        // Once failed, the reader stays failed.
        EXPECT_FALSE(reader.feed("a1 OK\r\n", 7)) << c.name;
    }
}

TEST(ImapResponseReader, LiteralLikeTextThatIsNoAnnouncementStaysText)
{
    TDWImapResponseReader reader;
    const Collected got = feedInChunks(reader, "* OK {abc}\r\n* OK {}\r\n* OK {12x}\r\n", 3);
    EXPECT_EQ(got.texts, (QList<QByteArray>{"* OK {abc}", "* OK {}", "* OK {12x}"}));
}

} // namespace
