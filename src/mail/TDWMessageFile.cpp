#include "mail/TDWMessageFile.h"

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWPropertyList.h"
#include "platform/imap/TDWImapFlags.h"
#include "platform/imap/TDWImapMessageHeader.h"

#include <QVariantMap>

#include <cstring>

namespace {

// The header block: everything before the first empty line (the whole
// message when it has none).
QByteArray headerOf(const QByteArray &message)
{
    if (message.startsWith('\n'))
        return {};
    const qsizetype end = message.indexOf("\n\n");
    return end < 0 ? message : message.left(end + 1);
}

// The subject without the characters a property list cannot carry (control
// characters a hostile or broken header may hold), so such a message is still
// backed up.
QString storableSubject(const QString &subject)
{
    QString kept;
    kept.reserve(subject.size());
    for (qsizetype i = 0; i < subject.size(); ++i) {
        const QChar c = subject[i];
        if (c.isHighSurrogate() && i + 1 < subject.size() && subject[i + 1].isLowSurrogate()) {
            kept.append(c);
            kept.append(subject[++i]);
            continue;
        }
        const char16_t u = c.unicode();
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF || (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r'))
            continue;
        kept.append(c);
    }
    return kept;
}

} // namespace

qint64 TDWMessageFile::flagWordFromImapFlags(qint64 imapFlags)
{
    qint64 word = 0;
    if (imapFlags & TDWImapMessageFlagSeen)
        word |= Read;
    if (imapFlags & TDWImapMessageFlagAnswered)
        word |= Answered;
    if (imapFlags & TDWImapMessageFlagFlagged)
        word |= Flagged;
    if (imapFlags & TDWImapMessageFlagForwarded)
        word |= Forwarded;
    return word;
}

qint64 TDWMessageFile::flagWordFor(const TDWDocRev &revision)
{
    const QVariant imapFlags = revision.messageFlags();
    if (imapFlags.isValid() && !imapFlags.isNull())
        return flagWordFromImapFlags(imapFlags.toLongLong());
    qint64 word = 0;
    if (!revision.isUnread())
        word |= Read;
    if (revision.starred())
        word |= Flagged;
    return word;
}

void TDWMessageFile::convertLineEnds(QByteArray &message)
{
    const qsizetype first = message.indexOf("\r\n");
    if (first < 0)
        return;
    char *bytes = message.data();
    const qsizetype size = message.size();
    qsizetype out = first;
    for (qsizetype in = first; in < size; ++in) {
        if (bytes[in] == '\r' && in + 1 < size && bytes[in + 1] == '\n')
            continue;
        bytes[out++] = bytes[in];
    }
    message.truncate(out);
}

QByteArray TDWMessageFile::countLine(qint64 length)
{
    return QByteArray::number(length).leftJustified(10, ' ') + '\n';
}

QByteArray TDWMessageFile::propertyList(const QByteArray &message, qint64 flagWord, TDWError *error)
{
    const TDWImapMessageHeader header = TDWImapMessageHeader::fromBytes(headerOf(message));
    QVariantMap values;
    values.insert(QStringLiteral("date-sent"), header.date.isValid() ? double(header.date.toMSecsSinceEpoch()) / 1000.0 : 0.0);
    values.insert(QStringLiteral("flags"), flagWord);
    if (!header.subject.isNull())
        values.insert(QStringLiteral("subject"), storableSubject(header.subject));
    return TDWPropertyList::write(values, error);
}
