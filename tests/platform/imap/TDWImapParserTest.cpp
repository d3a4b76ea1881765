// One row per response form the client reads, compared field by field with
// what the parser must make of it; then the malformed forms it must reject.
#include "ImapTestPrinters.h"

#include "platform/imap/TDWImapFlags.h"
#include "platform/imap/TDWImapParser.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Kind = TDWImapResponse::Kind;
using State = TDWImapResponse::State;

struct Row
{
    const char *name;
    QByteArray line;
    std::function<void(TDWImapResponse &)> expect;   // fills in the fields that differ from a default response
};

TDWImapResponse expected(const Row &row)
{
    TDWImapResponse r;
    row.expect(r);
    return r;
}

QDateTime at(int y, int mo, int d, int h, int mi, int s, int offsetSeconds)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(offsetSeconds));
}

const QByteArray GmailHeader = "Date: Sun, 10 Jan 2010 00:31:46 -0000\r\nSubject: Hello\r\n\r\n";

const std::vector<Row> &rows()
{
    static const std::vector<Row> table = {
        // Tagged results, with and without response codes and text.
        {"tagged OK with READ-ONLY", "c OK [READ-ONLY] Examine completed (0.010 + 0.000 secs).", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "c"; r.state = State::Ok; r.code = "READ-ONLY";
             r.text = "Examine completed (0.010 + 0.000 secs).";
         }},
        {"tagged NO AUTHENTICATIONFAILED", "a NO [AUTHENTICATIONFAILED] Authentication failed.", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "a"; r.state = State::No; r.code = "AUTHENTICATIONFAILED";
             r.text = "Authentication failed.";
         }},
        {"tagged BAD without code", "T12 BAD Error in IMAP command FETCH: Invalid messageset", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "T12"; r.state = State::Bad;
             r.text = "Error in IMAP command FETCH: Invalid messageset";
         }},
        {"tagged ok in lower case without text", "a1 ok", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "a1"; r.state = State::Ok;
         }},
        {"tagged OK with CAPABILITY code", "a OK [CAPABILITY IMAP4rev1 sasl-ir ID] Logged in", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "a"; r.state = State::Ok; r.code = "CAPABILITY";
             r.codeData = "IMAP4rev1 sasl-ir ID"; r.codeList = {"IMAP4REV1", "SASL-IR", "ID"}; r.text = "Logged in";
         }},
        {"tagged NO with THROTTLED", "T3 NO [THROTTLED] Too many simultaneous connections.", [](auto &r) {
             r.kind = Kind::Tagged; r.tag = "T3"; r.state = State::No; r.code = "THROTTLED";
             r.text = "Too many simultaneous connections.";
         }},
        // Untagged states and their codes.
        {"greeting with capabilities", "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] Dovecot (Debian) ready.", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "CAPABILITY";
             r.codeData = "IMAP4rev1 SASL-IR AUTH=XOAUTH2"; r.codeList = {"IMAP4REV1", "SASL-IR", "AUTH=XOAUTH2"};
             r.text = "Dovecot (Debian) ready.";
         }},
        {"UIDVALIDITY", "* OK [UIDVALIDITY 1796907848] UIDs valid", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "UIDVALIDITY"; r.codeData = "1796907848";
             r.codeNumber = 1796907848; r.text = "UIDs valid";
         }},
        {"UIDNEXT", "* OK [UIDNEXT 301] Predicted next UID", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "UIDNEXT"; r.codeData = "301";
             r.codeNumber = 301; r.text = "Predicted next UID";
         }},
        {"UNSEEN", "* OK [UNSEEN 2] First unseen.", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "UNSEEN"; r.codeData = "2";
             r.codeNumber = 2; r.text = "First unseen.";
         }},
        {"PERMANENTFLAGS", "* OK [PERMANENTFLAGS (\\Answered \\Seen $Forwarded \\*)] Flags permitted.", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "PERMANENTFLAGS";
             r.codeData = "(\\Answered \\Seen $Forwarded \\*)"; r.codeList = {"\\Answered", "\\Seen", "$Forwarded", "\\*"};
             r.text = "Flags permitted.";
         }},
        {"empty PERMANENTFLAGS", "* OK [PERMANENTFLAGS ()] Read-only mailbox.", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "PERMANENTFLAGS"; r.codeData = "()";
             r.text = "Read-only mailbox.";
         }},
        {"ALERT", "* OK [ALERT] Please log in with your web browser", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.code = "ALERT"; r.text = "Please log in with your web browser";
         }},
        {"unterminated code is text", "* OK [ALERT no end", [](auto &r) {
             r.kind = Kind::State; r.state = State::Ok; r.text = "[ALERT no end";
         }},
        {"BYE", "* BYE Logging out", [](auto &r) {
             r.kind = Kind::State; r.state = State::Bye; r.text = "Logging out";
         }},
        {"PREAUTH", "* PREAUTH IMAP4rev1 server logged in as alice", [](auto &r) {
             r.kind = Kind::State; r.state = State::PreAuth; r.text = "IMAP4rev1 server logged in as alice";
         }},
        {"untagged NO", "* NO [OVERQUOTA] Quota exceeded", [](auto &r) {
             r.kind = Kind::State; r.state = State::No; r.code = "OVERQUOTA"; r.text = "Quota exceeded";
         }},
        // CAPABILITY
        {"CAPABILITY", "* CAPABILITY IMAP4rev1 UNSELECT IDLE NAMESPACE QUOTA ID XLIST CHILDREN X-GM-EXT-1 auth=xoauth2", [](auto &r) {
             r.kind = Kind::Capability;
             r.atoms = {"IMAP4REV1", "UNSELECT", "IDLE", "NAMESPACE", "QUOTA", "ID", "XLIST", "CHILDREN", "X-GM-EXT-1", "AUTH=XOAUTH2"};
         }},
        // LIST and XLIST: attributes, delimiters and every form of name.
        {"LIST atom name", "* LIST (\\HasNoChildren) \"/\" Work", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\HasNoChildren"}; r.delimiter = QChar(u'/'); r.mailbox = "Work";
         }},
        {"LIST quoted name", "* LIST (\\HasNoChildren \\All) \"/\" \"[Gmail]/All Mail\"", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\HasNoChildren", "\\All"}; r.delimiter = QChar(u'/');
             r.mailbox = "[Gmail]/All Mail";
         }},
        {"LIST unquoted [Gmail]", "* LIST (\\Noselect \\HasChildren) \"/\" [Gmail]", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\Noselect", "\\HasChildren"}; r.delimiter = QChar(u'/');
             r.mailbox = "[Gmail]";
         }},
        {"LIST unquoted [Gmail]/Starred", "* LIST (\\HasNoChildren \\Flagged) \"/\" [Gmail]/Starred", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\HasNoChildren", "\\Flagged"}; r.delimiter = QChar(u'/');
             r.mailbox = "[Gmail]/Starred";
         }},
        {"LIST literal name", "* LIST () \"/\" {12}\r\nTravel Plans", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.delimiter = QChar(u'/'); r.mailbox = "Travel Plans";
         }},
        {"LIST non-synchronising literal name", "* LIST () \".\" {4+}\r\na\"b)", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.delimiter = QChar(u'.'); r.mailbox = "a\"b)";
         }},
        {"LIST NIL delimiter", "* LIST (\\NoInferiors) NIL INBOX", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\NoInferiors"}; r.mailbox = "INBOX";
         }},
        {"LIST keeps modified UTF-7", "* LIST (\\HasNoChildren) \"/\" Entw&APw-rfe", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\HasNoChildren"}; r.delimiter = QChar(u'/');
             r.mailbox = "Entw&APw-rfe";
         }},
        {"LIST escaped quotes", "* LIST () \"/\" \"say \\\"hi\\\" \\\\ there\"", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.delimiter = QChar(u'/'); r.mailbox = "say \"hi\" \\ there";
         }},
        {"LIST with extended data", "* LIST (\\Sent) \"/\" Sent (\"CHILDINFO\" (\"SUBSCRIBED\"))", [](auto &r) {
             r.kind = Kind::List; r.command = "LIST"; r.atoms = {"\\Sent"}; r.delimiter = QChar(u'/'); r.mailbox = "Sent";
         }},
        {"XLIST Inbox", "* XLIST (\\HasNoChildren \\Inbox) \"/\" \"Inbox\"", [](auto &r) {
             r.kind = Kind::List; r.command = "XLIST"; r.atoms = {"\\HasNoChildren", "\\Inbox"}; r.delimiter = QChar(u'/');
             r.mailbox = "Inbox";
         }},
        {"XLIST AllMail", "* XLIST (\\HasNoChildren \\AllMail) \"/\" \"[Gmail]/All Mail\"", [](auto &r) {
             r.kind = Kind::List; r.command = "XLIST"; r.atoms = {"\\HasNoChildren", "\\AllMail"}; r.delimiter = QChar(u'/');
             r.mailbox = "[Gmail]/All Mail";
         }},
        // STATUS and the select responses.
        {"STATUS", "* STATUS INBOX (MESSAGES 45 RECENT 45 UIDNEXT 46 UIDVALIDITY 1796907851 UNSEEN 10)", [](auto &r) {
             r.kind = Kind::Status; r.mailbox = "INBOX";
             r.statusItems = {{"MESSAGES", 45}, {"RECENT", 45}, {"UIDNEXT", 46}, {"UIDVALIDITY", 1796907851}, {"UNSEEN", 10}};
         }},
        {"STATUS quoted name", "* STATUS \"[Gmail]/All Mail\" (messages 2000)", [](auto &r) {
             r.kind = Kind::Status; r.mailbox = "[Gmail]/All Mail"; r.statusItems = {{"MESSAGES", 2000}};
         }},
        {"EXISTS", "* 300 EXISTS", [](auto &r) { r.kind = Kind::Exists; r.number = 300; }},
        {"EXISTS with trailing space", "* 0 EXISTS ", [](auto &r) { r.kind = Kind::Exists; r.number = 0; }},
        {"RECENT", "* 12 RECENT", [](auto &r) { r.kind = Kind::Recent; r.number = 12; }},
        {"EXPUNGE", "* 7 EXPUNGE", [](auto &r) { r.kind = Kind::Expunge; r.number = 7; }},
        {"FLAGS", "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft $Forwarded)", [](auto &r) {
             r.kind = Kind::Flags; r.atoms = {"\\Answered", "\\Flagged", "\\Deleted", "\\Seen", "\\Draft", "$Forwarded"};
         }},
        // FETCH: every item the client asks for, then the forms of bodies, labels and skipped items.
        {"FETCH every item", "* 1 FETCH (UID 1 FLAGS (\\Flagged \\Seen \\Recent) INTERNALDATE \"10-Jan-2010 00:31:46 +0000\" "
                             "RFC822.SIZE 30840 X-GM-MSGID 1278455344230334865 X-GM-THRID 1266894439832287888 "
                             "X-GM-LABELS (\\Inbox \\Sent Important \"Muy Importante\" [Gmail]/Starred Entw&APw-rfe) "
                             "BODY[HEADER.FIELDS (DATE SUBJECT)] {" + QByteArray::number(GmailHeader.size()) + "}\r\n" + GmailHeader + ")",
         [](auto &r) {
             r.kind = Kind::Fetch; r.number = 1;
             r.fetch.uid = 1;
             r.fetch.flags = QList<QByteArray>{"\\Flagged", "\\Seen", "\\Recent"};
             r.fetch.internalDate = at(2010, 1, 10, 0, 31, 46, 0);
             r.fetch.size = 30840;
             r.fetch.gmailMessageID = 1278455344230334865ULL;
             r.fetch.gmailThreadID = 1266894439832287888ULL;
             r.fetch.gmailLabels = QList<QByteArray>{"\\Inbox", "\\Sent", "Important", "Muy Importante", "[Gmail]/Starred", "Entw&APw-rfe"};
             r.fetch.headerFields = GmailHeader;
         }},
        {"FETCH items in another order, lower case", "* 2 FETCH (flags () uid 9 rfc822.size 0)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 2; r.fetch.uid = 9; r.fetch.flags = QList<QByteArray>{}; r.fetch.size = 0;
         }},
        {"FETCH body literal", "* 3 FETCH (UID 5 BODY[] {7}\r\nA\r\nB)\r\n)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 3; r.fetch.uid = 5; r.fetch.hasBody = true; r.fetch.body = "A\r\nB)\r\n";
         }},
        {"FETCH body with origin, UID after it", "* 3 FETCH (BODY[]<0> {3}\r\nabc UID 5)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 3; r.fetch.uid = 5; r.fetch.hasBody = true; r.fetch.body = "abc";
         }},
        {"FETCH RFC822", "* 4 FETCH (RFC822 {2}\r\nhi UID 6)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 4; r.fetch.uid = 6; r.fetch.hasBody = true; r.fetch.body = "hi";
         }},
        {"FETCH body NIL", "* 4 FETCH (UID 6 BODY[] NIL)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 4; r.fetch.uid = 6; r.fetch.hasBody = true;
         }},
        {"FETCH quoted body", "* 4 FETCH (UID 6 BODY[] \"short\")", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 4; r.fetch.uid = 6; r.fetch.hasBody = true; r.fetch.body = "short";
         }},
        {"FETCH RFC822.HEADER", "* 4 FETCH (UID 6 RFC822.HEADER {12}\r\nSubject: x\r\n)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 4; r.fetch.uid = 6; r.fetch.headerFields = QByteArray("Subject: x\r\n");
         }},
        {"FETCH skips unknown items", "* 5 FETCH (MODSEQ (12345) UID 8 ENVELOPE (\"date\" \"subj\" ((\"A\" NIL \"a\" \"example.org\")) NIL NIL NIL NIL NIL NIL \"<id>\") "
                                      "BODYSTRUCTURE ((\"text\" \"plain\" (\"charset\" \"utf-8\") NIL NIL \"7bit\" 10 1)(\"text\" \"html\" NIL NIL NIL \"7bit\" 20 1) \"alternative\") "
                                      "BODY[TEXT] {4}\r\nbody X-UNKNOWN-ITEM some-atom X-LIST (a (b {1}\r\nc)) FLAGS (\\Seen))",
         [](auto &r) {
             r.kind = Kind::Fetch; r.number = 5; r.fetch.uid = 8; r.fetch.flags = QList<QByteArray>{"\\Seen"};
         }},
        {"X-GM-LABELS empty", "* 6 FETCH (X-GM-LABELS () UID 10)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 6; r.fetch.uid = 10; r.fetch.gmailLabels = QList<QByteArray>{};
         }},
        {"X-GM-LABELS quoted system label and literal", "* 6 FETCH (X-GM-LABELS (\"\\\\Important\" {9}\r\nTwo words \\Draft) UID 10)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 6; r.fetch.uid = 10;
             r.fetch.gmailLabels = QList<QByteArray>{"\\Important", "Two words", "\\Draft"};
         }},
        {"X-GM-LABELS NIL", "* 6 FETCH (UID 10 X-GM-LABELS NIL)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 6; r.fetch.uid = 10; r.fetch.gmailLabels = QList<QByteArray>{};
         }},
        {"INTERNALDATE with space-padded day and offset", "* 7 FETCH (INTERNALDATE \" 7-Jul-2011 23:05:01 -0730\")", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 7; r.fetch.internalDate = at(2011, 7, 7, 23, 5, 1, -(7 * 3600 + 30 * 60));
         }},
        {"INTERNALDATE that cannot be read is left out", "* 7 FETCH (INTERNALDATE \"yesterday\" UID 3)", [](auto &r) {
             r.kind = Kind::Fetch; r.number = 7; r.fetch.uid = 3;
         }},
        {"FETCH with empty item list", "* 8 FETCH ()", [](auto &r) { r.kind = Kind::Fetch; r.number = 8; }},
        // ID
        {"ID", "* ID (\"name\" \"Dovecot\" \"version\" NIL)", [](auto &r) {
             r.kind = Kind::Id; r.id = {{"name", QStringLiteral("Dovecot")}, {"version", QVariant()}};
         }},
        {"ID NIL", "* ID NIL", [](auto &r) { r.kind = Kind::Id; }},
        // Continuation requests.
        {"continuation with base64", "+ eyJzdGF0dXMiOiI0MDEifQ==", [](auto &r) {
             r.kind = Kind::Continuation; r.text = "eyJzdGF0dXMiOiI0MDEifQ==";
         }},
        {"bare continuation", "+", [](auto &r) { r.kind = Kind::Continuation; }},
        {"continuation with text", "+ Ready for literal data", [](auto &r) {
             r.kind = Kind::Continuation; r.text = "Ready for literal data";
         }},
        // Untagged responses the client does not use: named, read no further.
        {"SEARCH", "* SEARCH 1 2 3", [](auto &r) { r.kind = Kind::Other; r.command = "SEARCH"; }},
        {"NAMESPACE", "* NAMESPACE ((\"\" \"/\")) NIL NIL", [](auto &r) { r.kind = Kind::Other; r.command = "NAMESPACE"; }},
        {"ENABLED", "* ENABLED CONDSTORE", [](auto &r) { r.kind = Kind::Other; r.command = "ENABLED"; }},
        {"VANISHED", "* VANISHED (EARLIER) 41,43:116", [](auto &r) { r.kind = Kind::Other; r.command = "VANISHED"; }},
        {"numbered unknown", "* 5 XYZZY (whatever \"", [](auto &r) { r.kind = Kind::Other; r.number = 5; r.command = "XYZZY"; }},
    };
    return table;
}

class ResponseForms : public ::testing::TestWithParam<size_t>
{
};

TEST_P(ResponseForms, ParsesToExpectedFields)
{
    const Row &row = rows()[GetParam()];
    SCOPED_TRACE(row.name);
    TDWImapResponse actual;
    ASSERT_NO_THROW(actual = TDWImapParser::parseResponse(row.line)) << row.line.toStdString();
    const TDWImapResponse want = expected(row);
    EXPECT_EQ(int(actual.kind), int(want.kind));
    EXPECT_EQ(actual.tag, want.tag);
    EXPECT_EQ(int(actual.state), int(want.state));
    EXPECT_EQ(actual.code, want.code);
    EXPECT_EQ(actual.codeData, want.codeData);
    EXPECT_EQ(actual.codeList, want.codeList);
    EXPECT_EQ(actual.codeNumber, want.codeNumber);
    EXPECT_EQ(actual.text, want.text);
    EXPECT_EQ(actual.number, want.number);
    EXPECT_EQ(actual.atoms, want.atoms);
    EXPECT_EQ(actual.command, want.command);
    EXPECT_EQ(actual.delimiter, want.delimiter);
    EXPECT_EQ(actual.mailbox, want.mailbox);
    EXPECT_EQ(actual.statusItems, want.statusItems);
    EXPECT_EQ(actual.id, want.id);
    EXPECT_EQ(actual.fetch.uid, want.fetch.uid);
    EXPECT_EQ(actual.fetch.flags, want.fetch.flags);
    EXPECT_EQ(actual.fetch.internalDate, want.fetch.internalDate);
    if (actual.fetch.internalDate && want.fetch.internalDate) {
        EXPECT_EQ(actual.fetch.internalDate->offsetFromUtc(), want.fetch.internalDate->offsetFromUtc());
    }
    EXPECT_EQ(actual.fetch.size, want.fetch.size);
    EXPECT_EQ(actual.fetch.gmailMessageID, want.fetch.gmailMessageID);
    EXPECT_EQ(actual.fetch.gmailThreadID, want.fetch.gmailThreadID);
    EXPECT_EQ(actual.fetch.gmailLabels, want.fetch.gmailLabels);
    EXPECT_EQ(actual.fetch.headerFields, want.fetch.headerFields);
    EXPECT_EQ(actual.fetch.hasBody, want.fetch.hasBody);
    EXPECT_EQ(actual.fetch.body, want.fetch.body);
    EXPECT_TRUE(actual == want);
}

INSTANTIATE_TEST_SUITE_P(Table, ResponseForms, ::testing::Range<size_t>(0, rows().size()),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             std::string name = rows()[info.param].name;
                             for (char &c : name)
                                 if (!isalnum(uchar(c)))
                                     c = '_';
                             return name;
                         });

struct MalformedRow
{
    const char *name;
    QByteArray line;
};

void PrintTo(const MalformedRow &row, std::ostream *os)
{
    *os << row.name;
}

class MalformedResponses : public ::testing::TestWithParam<MalformedRow>
{
};

TEST_P(MalformedResponses, AreRejected)
{
    EXPECT_THROW(TDWImapParser::parseResponse(GetParam().line), TDWImapParseError) << GetParam().line.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedResponses, ::testing::Values(
    MalformedRow{"empty", ""},
    MalformedRow{"star alone", "*"},
    MalformedRow{"star and space", "* "},
    MalformedRow{"tag without status", "a1"},
    MalformedRow{"unknown tagged status", "a1 MAYBE done"},
    MalformedRow{"unterminated attribute list", "* LIST (\\HasNoChildren \"/\" Work"},
    MalformedRow{"unterminated quoted name", "* LIST () \"/\" \"Work"},
    MalformedRow{"LIST without name", "* LIST () \"/\""},
    MalformedRow{"literal longer than the response", "* 1 FETCH (UID 1 BODY[] {10}\r\nabc)"},
    MalformedRow{"literal without CRLF", "* 1 FETCH (UID 1 BODY[] {3}abc)"},
    MalformedRow{"UID not a number", "* 1 FETCH (UID abc)"},
    MalformedRow{"UID over 32 bits", "* 1 FETCH (UID 4294967296)"},
    MalformedRow{"X-GM-MSGID over 64 bits", "* 1 FETCH (X-GM-MSGID 18446744073709551616)"},
    MalformedRow{"sequence number over 32 bits", "* 4294967296 EXISTS"},
    MalformedRow{"unterminated FETCH", "* 1 FETCH (UID 1"},
    MalformedRow{"FETCH item without value", "* 1 FETCH (UID)"},
    MalformedRow{"FETCH without list", "* 1 FETCH UID 1"},
    MalformedRow{"data after FETCH", "* 1 FETCH (UID 1) trailing"},
    MalformedRow{"data after EXISTS", "* 1 EXISTS now"},
    MalformedRow{"unterminated section", "* 1 FETCH (BODY[HEADER.FIELDS (DATE) {3}\r\nabc)"},
    MalformedRow{"STATUS item without number", "* STATUS INBOX (MESSAGES)"},
    MalformedRow{"labels not a list", "* 1 FETCH (X-GM-LABELS \\Inbox)"},
    MalformedRow{"nesting beyond the bound", "* 1 FETCH (X-DEEP " + QByteArray(80, '(') + QByteArray(80, ')') + ")"},
    MalformedRow{"quoted string with a line break", "* LIST () \"/\" \"a\r\nb\""},
    MalformedRow{"ID with odd field count", "* ID (\"name\")"}),
    [](const ::testing::TestParamInfo<MalformedRow> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (!isalnum(uchar(c)))
                c = '_';
        return name;
    });

TEST(ImapFlagMapping, MessageFlagsFromFlagLists)
{
    const std::vector<std::pair<QList<QByteArray>, int>> cases = {
        {{}, TDWImapMessageFlagNone},
        {{"\\Seen"}, TDWImapMessageFlagSeen},
        {{"\\seen", "\\ANSWERED", "\\Flagged"}, TDWImapMessageFlagSeen | TDWImapMessageFlagAnswered | TDWImapMessageFlagFlagged},
        {{"\\Deleted", "\\Draft"}, TDWImapMessageFlagDeleted | TDWImapMessageFlagDraft},
        {{"$Forwarded", "$MDNSent"}, TDWImapMessageFlagForwarded | TDWImapMessageFlagMDNSent},
        {{"$SubmitPending", "$Submitted"}, TDWImapMessageFlagSubmitPending | TDWImapMessageFlagSubmitted},
        // Keywords that are no flag, and \Recent, leave the bits alone.
        {{"\\Recent", "$Important", "Forwarded", "$Junk", "\\Seen"}, TDWImapMessageFlagSeen},
    };
    for (const auto &[flags, bits] : cases)
        EXPECT_EQ(TDWImapParser::messageFlagsFromList(flags), bits) << flags.join(' ').toStdString();
}

TEST(ImapFlagMapping, FlagValuesStayFixed)
{
    // Stored in the mail store and compared as numbers.
    EXPECT_EQ(TDWImapFolderFlagNoSelect, 4);
    EXPECT_EQ(TDWImapFolderFlagInbox, 16);
    EXPECT_EQ(TDWImapFolderFlagSent, 32);
    EXPECT_EQ(TDWImapFolderFlagStarred, 64);
    EXPECT_EQ(TDWImapFolderFlagAllMail, 128);
    EXPECT_EQ(TDWImapFolderFlagTrash, 256);
    EXPECT_EQ(TDWImapFolderFlagDrafts, 512);
    EXPECT_EQ(TDWImapFolderFlagSpam, 1024);
    EXPECT_EQ(TDWImapMessageFlagSeen, 1);
    EXPECT_EQ(TDWImapMessageFlagAnswered, 2);
    EXPECT_EQ(TDWImapMessageFlagFlagged, 4);
    EXPECT_EQ(TDWImapMessageFlagForwarded, 64);
}

TEST(ImapFlagMapping, FolderFlagsFromAttributes)
{
    const std::vector<std::pair<QList<QByteArray>, int>> cases = {
        {{"\\HasNoChildren"}, TDWImapFolderFlagHasNoChildren},
        {{"\\Noselect", "\\HasChildren"}, TDWImapFolderFlagNoSelect | TDWImapFolderFlagHasChildren},
        {{"\\NonExistent"}, TDWImapFolderFlagNoSelect},
        {{"\\NoInferiors", "\\Marked"}, TDWImapFolderFlagNoInferiors | TDWImapFolderFlagMarked},
        {{"\\Unmarked"}, TDWImapFolderFlagUnmarked},
        // RFC 6154 special-use
        {{"\\All"}, TDWImapFolderFlagAllMail},
        {{"\\Sent"}, TDWImapFolderFlagSent},
        {{"\\Drafts"}, TDWImapFolderFlagDrafts},
        {{"\\Junk"}, TDWImapFolderFlagSpam},
        {{"\\Trash"}, TDWImapFolderFlagTrash},
        {{"\\Flagged"}, TDWImapFolderFlagStarred},
        {{"\\Archive"}, TDWImapFolderFlagArchive},
        {{"\\Important"}, TDWImapFolderFlagImportant},
        // XLIST
        {{"\\Inbox"}, TDWImapFolderFlagInbox},
        {{"\\AllMail"}, TDWImapFolderFlagAllMail},
        {{"\\Spam"}, TDWImapFolderFlagSpam},
        {{"\\Starred"}, TDWImapFolderFlagStarred},
        {{"\\hasnochildren", "\\ALL"}, TDWImapFolderFlagHasNoChildren | TDWImapFolderFlagAllMail},
        {{"\\Subscribed", "\\Remote"}, TDWImapFolderFlagNone},
    };
    for (const auto &[attributes, bits] : cases)
        EXPECT_EQ(TDWImapParser::folderFlagsFromAttributes(attributes), bits) << attributes.join(' ').toStdString();
}

TEST(ImapInternalDate, RejectsWhatIsNoDate)
{
    for (const char *text : {"", "10-Jan-2010", "10-Foo-2010 00:31:46 +0000", "31-Feb-2010 00:31:46 +0000",
                             "10-Jan-2010 25:31:46 +0000", "10-Jan-2010 00:31:46 0000", "10-Jan-2010 00:31:46 +0099",
                             "10-Jan-2010 00:31:46 +ab00"})
        EXPECT_FALSE(TDWImapParser::parseInternalDate(text).has_value()) << text;
}

} // namespace
