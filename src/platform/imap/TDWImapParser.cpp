#include "platform/imap/TDWImapParser.h"

#include "platform/imap/TDWImapFlags.h"

#include <QTimeZone>

namespace {

// Deeper nesting than any real BODYSTRUCTURE; bounds the recursion on hostile input.
constexpr int MaxListDepth = 64;

[[noreturn]] void fail(const char *what, qsizetype pos)
{
    throw TDWImapParseError(what, pos);
}

bool isAtomChar(char c)
{
    const uchar u = uchar(c);
    if (u <= 0x20 || u == 0x7f)
        return false;
    return c != '(' && c != ')' && c != '"';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char peek(const QByteArray &line, qsizetype pos)
{
    return pos < line.size() ? line.at(pos) : '\0';
}

void expectChar(const QByteArray &line, qsizetype &pos, char c, const char *what)
{
    if (peek(line, pos) != c)
        fail(what, pos);
    ++pos;
}

// A space between two tokens; servers sometimes send more than one.
void expectSpace(const QByteArray &line, qsizetype &pos)
{
    if (peek(line, pos) != ' ')
        fail("expected a space", pos);
    TDWImapParser::skipSpaces(line, pos);
}

bool atNil(const QByteArray &line, qsizetype pos)
{
    return line.size() - pos >= 3 && qstrnicmp(line.constData() + pos, "NIL", 3) == 0
        && (pos + 3 == line.size() || !isAtomChar(line.at(pos + 3)));
}

QVariant readValueAt(const QByteArray &line, qsizetype &pos, int depth)
{
    const char c = peek(line, pos);
    if (c == '(') {
        if (depth >= MaxListDepth)
            fail("lists nested too deeply", pos);
        ++pos;
        QVariantList items;
        while (true) {
            TDWImapParser::skipSpaces(line, pos);
            if (peek(line, pos) == ')') {
                ++pos;
                return items;
            }
            if (pos >= line.size())
                fail("unterminated list", pos);
            items.append(readValueAt(line, pos, depth + 1));
        }
    }
    if (c == '"')
        return TDWImapParser::readQuoted(line, pos);
    if (c == '{')
        return TDWImapParser::readLiteral(line, pos);
    if (atNil(line, pos)) {
        pos += 3;
        return QVariant();
    }
    return TDWImapParser::readAtom(line, pos);
}

QString restAsText(const QByteArray &line, qsizetype pos)
{
    return QString::fromUtf8(line.mid(pos)).trimmed();
}

// resp-text: an optional "[CODE data]" and the human-readable rest.
void readResponseText(const QByteArray &line, qsizetype &pos, TDWImapResponse &r)
{
    TDWImapParser::skipSpaces(line, pos);
    if (peek(line, pos) == '[') {
        // Find the closing bracket outside quoted strings; without one the whole rest is text.
        qsizetype end = pos + 1;
        bool quoted = false;
        for (; end < line.size(); ++end) {
            const char c = line.at(end);
            if (quoted && c == '\\')
                ++end;
            else if (c == '"')
                quoted = !quoted;
            else if (!quoted && c == ']')
                break;
        }
        if (end < line.size()) {
            const QByteArray inside = line.mid(pos + 1, end - pos - 1);
            const qsizetype space = inside.indexOf(' ');
            r.code = (space < 0 ? inside : inside.left(space)).toUpper();
            r.codeData = space < 0 ? QByteArray() : inside.mid(space + 1).trimmed();
            if (r.codeData.startsWith('(')) {
                try {
                    qsizetype p = 0;
                    r.codeList = TDWImapParser::readAStringList(r.codeData, p);
                } catch (const TDWImapParseError &) {
                    // A code we cannot read is only information; its text stays in codeData.
                }
            } else if (r.code == "CAPABILITY") {
                for (const QByteArray &word : r.codeData.split(' '))
                    if (!word.isEmpty())
                        r.codeList.append(word.toUpper());
            } else if (!r.codeData.isEmpty() && r.codeData.size() <= 20
                       && std::all_of(r.codeData.begin(), r.codeData.end(), isDigit)) {
                bool ok = false;
                const quint64 n = r.codeData.toULongLong(&ok);
                if (ok)
                    r.codeNumber = n;
            }
            pos = end + 1;
        }
    }
    r.text = restAsText(line, pos);
}

QList<QByteArray> readAtomsToEnd(const QByteArray &line, qsizetype &pos)
{
    QList<QByteArray> atoms;
    while (true) {
        TDWImapParser::skipSpaces(line, pos);
        if (pos >= line.size())
            return atoms;
        atoms.append(TDWImapParser::readAtom(line, pos).toUpper());
    }
}

QString mailboxName(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

void readList(const QByteArray &line, qsizetype &pos, TDWImapResponse &r)
{
    expectSpace(line, pos);
    r.atoms = TDWImapParser::readAStringList(line, pos);
    expectSpace(line, pos);
    if (atNil(line, pos)) {
        pos += 3;
    } else {
        const QByteArray delimiter = TDWImapParser::readQuoted(line, pos);
        if (!delimiter.isEmpty())
            r.delimiter = QChar::fromLatin1(delimiter.at(0));
    }
    expectSpace(line, pos);
    r.mailbox = mailboxName(TDWImapParser::readAString(line, pos));
    // LIST-EXTENDED data may follow; nothing of it is used.
}

void readStatus(const QByteArray &line, qsizetype &pos, TDWImapResponse &r)
{
    expectSpace(line, pos);
    r.mailbox = mailboxName(TDWImapParser::readAString(line, pos));
    TDWImapParser::skipSpaces(line, pos);
    expectChar(line, pos, '(', "expected the STATUS items");
    while (true) {
        TDWImapParser::skipSpaces(line, pos);
        if (peek(line, pos) == ')') {
            ++pos;
            return;
        }
        const QByteArray name = TDWImapParser::readAtom(line, pos).toUpper();
        expectSpace(line, pos);
        r.statusItems.insert(name, TDWImapParser::readNumber(line, pos, std::numeric_limits<quint64>::max()));
    }
}

void readId(const QByteArray &line, qsizetype &pos, TDWImapResponse &r)
{
    expectSpace(line, pos);
    if (atNil(line, pos)) {
        pos += 3;
        return;
    }
    expectChar(line, pos, '(', "expected the ID fields");
    while (true) {
        TDWImapParser::skipSpaces(line, pos);
        if (peek(line, pos) == ')') {
            ++pos;
            return;
        }
        const std::optional<QByteArray> key = TDWImapParser::readNString(line, pos);
        expectSpace(line, pos);
        const std::optional<QByteArray> value = TDWImapParser::readNString(line, pos);
        if (key)
            r.id.insert(QString::fromUtf8(*key), value ? QVariant(QString::fromUtf8(*value)) : QVariant());
    }
}

// A FETCH item name with its section and origin: "UID", "BODY[HEADER.FIELDS (DATE)]", "BODY[]<0>".
void readFetchItemName(const QByteArray &line, qsizetype &pos, QByteArray *name, std::optional<QByteArray> *section)
{
    const qsizetype start = pos;
    while (pos < line.size() && isAtomChar(line.at(pos)) && line.at(pos) != '[')
        ++pos;
    if (pos == start)
        fail("expected a FETCH item", pos);
    *name = line.mid(start, pos - start).toUpper();
    if (peek(line, pos) != '[')
        return;
    const qsizetype open = pos;
    bool quoted = false;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line.at(pos);
        if (quoted && c == '\\')
            ++pos;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ']')
            break;
    }
    if (pos >= line.size())
        fail("unterminated section", open);
    *section = line.mid(open + 1, pos - open - 1).toUpper();
    ++pos;
    if (peek(line, pos) == '<') {
        ++pos;
        TDWImapParser::readNumber(line, pos, std::numeric_limits<quint64>::max());
        expectChar(line, pos, '>', "expected '>' after the origin");
    }
}

void readFetch(const QByteArray &line, qsizetype &pos, TDWImapResponse &r)
{
    TDWImapParser::skipSpaces(line, pos);
    expectChar(line, pos, '(', "expected the FETCH items");
    TDWImapResponse::Fetch &f = r.fetch;
    while (true) {
        TDWImapParser::skipSpaces(line, pos);
        if (peek(line, pos) == ')') {
            ++pos;
            break;
        }
        QByteArray name;
        std::optional<QByteArray> section;
        readFetchItemName(line, pos, &name, &section);
        expectSpace(line, pos);
        if (name == "UID" && !section) {
            f.uid = quint32(TDWImapParser::readNumber(line, pos, std::numeric_limits<quint32>::max()));
        } else if (name == "FLAGS" && !section) {
            f.flags = TDWImapParser::readAStringList(line, pos);
        } else if (name == "INTERNALDATE" && !section) {
            const std::optional<QByteArray> text = TDWImapParser::readNString(line, pos);
            if (text)
                f.internalDate = TDWImapParser::parseInternalDate(*text);
        } else if (name == "RFC822.SIZE" && !section) {
            f.size = qint64(TDWImapParser::readNumber(line, pos, std::numeric_limits<qint64>::max()));
        } else if (name == "X-GM-MSGID" && !section) {
            f.gmailMessageID = TDWImapParser::readNumber(line, pos, std::numeric_limits<quint64>::max());
        } else if (name == "X-GM-THRID" && !section) {
            f.gmailThreadID = TDWImapParser::readNumber(line, pos, std::numeric_limits<quint64>::max());
        } else if (name == "X-GM-LABELS" && !section) {
            f.gmailLabels = TDWImapParser::readAStringList(line, pos);
        } else if ((name == "RFC822" && !section) || ((name == "BODY" || name == "BINARY") && section && section->isEmpty())) {
            f.hasBody = true;
            f.body = TDWImapParser::readNString(line, pos).value_or(QByteArray());
        } else if ((name == "RFC822.HEADER" && !section) || (name == "BODY" && section && section->startsWith("HEADER"))) {
            f.headerFields = TDWImapParser::readNString(line, pos).value_or(QByteArray());
        } else {
            readValueAt(line, pos, 0);
        }
    }
}

} // namespace

namespace TDWImapParser {

void skipSpaces(const QByteArray &line, qsizetype &pos)
{
    while (pos < line.size() && line.at(pos) == ' ')
        ++pos;
}

bool atEnd(const QByteArray &line, qsizetype pos)
{
    skipSpaces(line, pos);
    return pos >= line.size();
}

QByteArray readAtom(const QByteArray &line, qsizetype &pos)
{
    const qsizetype start = pos;
    if (peek(line, pos) == '{')
        fail("expected an atom", pos);
    while (pos < line.size() && isAtomChar(line.at(pos)))
        ++pos;
    if (pos == start)
        fail("expected an atom", pos);
    return line.mid(start, pos - start);
}

quint64 readNumber(const QByteArray &line, qsizetype &pos, quint64 max)
{
    const qsizetype start = pos;
    quint64 value = 0;
    while (pos < line.size() && isDigit(line.at(pos))) {
        const quint64 digit = quint64(line.at(pos) - '0');
        if (value > (max - digit) / 10)
            fail("number too large", start);
        value = value * 10 + digit;
        ++pos;
    }
    if (pos == start)
        fail("expected a number", pos);
    return value;
}

QByteArray readQuoted(const QByteArray &line, qsizetype &pos)
{
    expectChar(line, pos, '"', "expected a quoted string");
    QByteArray out;
    while (pos < line.size()) {
        const char c = line.at(pos++);
        if (c == '"')
            return out;
        if (c == '\r' || c == '\n')
            fail("line break in a quoted string", pos - 1);
        if (c == '\\') {
            if (pos >= line.size())
                break;
            out.append(line.at(pos++));
        } else {
            out.append(c);
        }
    }
    fail("unterminated quoted string", pos);
}

QByteArray readLiteral(const QByteArray &line, qsizetype &pos)
{
    expectChar(line, pos, '{', "expected a literal");
    const quint64 size = readNumber(line, pos, std::numeric_limits<qint64>::max());
    if (peek(line, pos) == '+')
        ++pos;
    expectChar(line, pos, '}', "expected '}'");
    expectChar(line, pos, '\r', "expected CRLF after a literal's size");
    expectChar(line, pos, '\n', "expected CRLF after a literal's size");
    if (size > quint64(line.size() - pos))
        fail("literal longer than the response", pos);
    const QByteArray out = line.mid(pos, qsizetype(size));
    pos += qsizetype(size);
    return out;
}

std::optional<QByteArray> readNString(const QByteArray &line, qsizetype &pos)
{
    if (atNil(line, pos)) {
        pos += 3;
        return std::nullopt;
    }
    const char c = peek(line, pos);
    if (c == '"')
        return readQuoted(line, pos);
    if (c == '{')
        return readLiteral(line, pos);
    fail("expected a string or NIL", pos);
}

QByteArray readAString(const QByteArray &line, qsizetype &pos)
{
    const char c = peek(line, pos);
    if (c == '"')
        return readQuoted(line, pos);
    if (c == '{')
        return readLiteral(line, pos);
    return readAtom(line, pos);
}

QList<QByteArray> readAStringList(const QByteArray &line, qsizetype &pos)
{
    QList<QByteArray> items;
    if (atNil(line, pos)) {
        pos += 3;
        return items;
    }
    expectChar(line, pos, '(', "expected a list");
    while (true) {
        skipSpaces(line, pos);
        if (peek(line, pos) == ')') {
            ++pos;
            return items;
        }
        items.append(readAString(line, pos));
    }
}

QVariant readValue(const QByteArray &line, qsizetype &pos)
{
    return readValueAt(line, pos, 0);
}

std::optional<QDateTime> parseInternalDate(const QByteArray &text)
{
    static const char *const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const QList<QByteArray> parts = text.simplified().split(' ');
    if (parts.size() != 3)
        return std::nullopt;
    const QList<QByteArray> date = parts[0].split('-');
    const QList<QByteArray> time = parts[1].split(':');
    const QByteArray &zone = parts[2];
    if (date.size() != 3 || time.size() != 3 || zone.size() != 5 || (zone[0] != '+' && zone[0] != '-'))
        return std::nullopt;
    int month = 0;
    for (int i = 0; i < 12; ++i)
        if (date[1].toUpper() == months[i])
            month = i + 1;
    bool okDay, okYear, okH, okM, okS, okZone;
    const int day = date[0].toInt(&okDay);
    const int year = date[2].toInt(&okYear);
    const int h = time[0].toInt(&okH), m = time[1].toInt(&okM), s = time[2].toInt(&okS);
    const int zoneValue = zone.mid(1).toInt(&okZone);
    if (!month || !okDay || !okYear || !okH || !okM || !okS || !okZone || !isDigit(zone[1]))
        return std::nullopt;
    const QDate d(year, month, day);
    const QTime t(h, m, s);
    const int offset = (zoneValue / 100 * 3600 + zoneValue % 100 * 60) * (zone[0] == '-' ? -1 : 1);
    if (!d.isValid() || !t.isValid() || zoneValue % 100 >= 60 || zoneValue / 100 > 14)
        return std::nullopt;
    return QDateTime(d, t, QTimeZone(offset));
}

int messageFlagsFromList(const QList<QByteArray> &flags)
{
    static const QList<std::pair<QByteArray, int>> known = {
        {"\\SEEN", TDWImapMessageFlagSeen},
        {"\\ANSWERED", TDWImapMessageFlagAnswered},
        {"\\FLAGGED", TDWImapMessageFlagFlagged},
        {"\\DELETED", TDWImapMessageFlagDeleted},
        {"\\DRAFT", TDWImapMessageFlagDraft},
        {"$MDNSENT", TDWImapMessageFlagMDNSent},
        {"$FORWARDED", TDWImapMessageFlagForwarded},
        {"$SUBMITPENDING", TDWImapMessageFlagSubmitPending},
        {"$SUBMITTED", TDWImapMessageFlagSubmitted},
    };
    int bits = TDWImapMessageFlagNone;
    for (const QByteArray &flag : flags) {
        const QByteArray upper = flag.toUpper();
        for (const auto &[name, bit] : known)
            if (upper == name)
                bits |= bit;
    }
    return bits;
}

int folderFlagsFromAttributes(const QList<QByteArray> &attributes)
{
    static const QList<std::pair<QByteArray, int>> known = {
        {"\\MARKED", TDWImapFolderFlagMarked},
        {"\\UNMARKED", TDWImapFolderFlagUnmarked},
        {"\\NOSELECT", TDWImapFolderFlagNoSelect},
        {"\\NONEXISTENT", TDWImapFolderFlagNoSelect},
        {"\\NOINFERIORS", TDWImapFolderFlagNoInferiors},
        {"\\HASCHILDREN", TDWImapFolderFlagHasChildren},
        {"\\HASNOCHILDREN", TDWImapFolderFlagHasNoChildren},
        {"\\INBOX", TDWImapFolderFlagInbox},
        {"\\SENT", TDWImapFolderFlagSent},
        {"\\STARRED", TDWImapFolderFlagStarred},
        {"\\FLAGGED", TDWImapFolderFlagStarred},
        {"\\ALLMAIL", TDWImapFolderFlagAllMail},
        {"\\ALL", TDWImapFolderFlagAllMail},
        {"\\TRASH", TDWImapFolderFlagTrash},
        {"\\DRAFTS", TDWImapFolderFlagDrafts},
        {"\\SPAM", TDWImapFolderFlagSpam},
        {"\\JUNK", TDWImapFolderFlagSpam},
        {"\\IMPORTANT", TDWImapFolderFlagImportant},
        {"\\ARCHIVE", TDWImapFolderFlagArchive},
    };
    int bits = TDWImapFolderFlagNone;
    for (const QByteArray &attribute : attributes) {
        const QByteArray upper = attribute.toUpper();
        for (const auto &[name, bit] : known)
            if (upper == name)
                bits |= bit;
    }
    return bits;
}

TDWImapResponse parseResponse(const QByteArray &line)
{
    TDWImapResponse r;
    qsizetype pos = 0;
    if (line.isEmpty())
        fail("empty response", 0);

    if (line.at(0) == '+') {
        r.kind = TDWImapResponse::Kind::Continuation;
        r.text = restAsText(line, 1);
        return r;
    }

    if (line.at(0) != '*') {
        r.kind = TDWImapResponse::Kind::Tagged;
        r.tag = readAtom(line, pos);
        expectSpace(line, pos);
        const QByteArray word = readAtom(line, pos).toUpper();
        if (word == "OK")
            r.state = TDWImapResponse::State::Ok;
        else if (word == "NO")
            r.state = TDWImapResponse::State::No;
        else if (word == "BAD")
            r.state = TDWImapResponse::State::Bad;
        else
            fail("expected OK, NO or BAD after a tag", pos);
        readResponseText(line, pos, r);
        return r;
    }

    ++pos;
    expectSpace(line, pos);
    if (isDigit(peek(line, pos))) {
        r.number = quint32(readNumber(line, pos, std::numeric_limits<quint32>::max()));
        expectSpace(line, pos);
        const QByteArray word = readAtom(line, pos).toUpper();
        if (word == "EXISTS")
            r.kind = TDWImapResponse::Kind::Exists;
        else if (word == "RECENT")
            r.kind = TDWImapResponse::Kind::Recent;
        else if (word == "EXPUNGE")
            r.kind = TDWImapResponse::Kind::Expunge;
        else if (word == "FETCH") {
            r.kind = TDWImapResponse::Kind::Fetch;
            readFetch(line, pos, r);
        } else {
            r.command = word;
        }
    } else {
        const QByteArray word = readAtom(line, pos).toUpper();
        static const QList<std::pair<QByteArray, TDWImapResponse::State>> states = {
            {"OK", TDWImapResponse::State::Ok}, {"NO", TDWImapResponse::State::No},
            {"BAD", TDWImapResponse::State::Bad}, {"PREAUTH", TDWImapResponse::State::PreAuth},
            {"BYE", TDWImapResponse::State::Bye}};
        for (const auto &[name, state] : states) {
            if (word == name) {
                r.kind = TDWImapResponse::Kind::State;
                r.state = state;
                readResponseText(line, pos, r);
                return r;
            }
        }
        if (word == "CAPABILITY") {
            r.kind = TDWImapResponse::Kind::Capability;
            r.atoms = readAtomsToEnd(line, pos);
        } else if (word == "LIST" || word == "XLIST" || word == "LSUB") {
            r.kind = TDWImapResponse::Kind::List;
            r.command = word;
            readList(line, pos, r);
            return r;
        } else if (word == "STATUS") {
            r.kind = TDWImapResponse::Kind::Status;
            readStatus(line, pos, r);
        } else if (word == "FLAGS") {
            r.kind = TDWImapResponse::Kind::Flags;
            expectSpace(line, pos);
            r.atoms = readAStringList(line, pos);
        } else if (word == "ID") {
            r.kind = TDWImapResponse::Kind::Id;
            readId(line, pos, r);
        } else {
            r.command = word;
            return r;
        }
    }
    if (r.kind != TDWImapResponse::Kind::Other && !atEnd(line, pos))
        fail("unexpected data at the end of the response", pos);
    return r;
}

} // namespace TDWImapParser
