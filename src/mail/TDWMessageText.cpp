#include "mail/TDWMessageText.h"

#include "common/TDWFileUtils.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("TDWMessageText", text);
}

QString capitalised(const QString &text)
{
    QString result = text.toLower();
    bool wordStart = true;
    for (QChar &c : result) {
        if (wordStart && c.isLetterOrNumber())
            c = c.toUpper();
        wordStart = !c.isLetterOrNumber();
    }
    return result;
}

} // namespace

QString TDWMessageText::stringFromAddress(const TDWImapAddress &address)
{
    if (!address.displayName.isEmpty())
        return address.displayName;
    if (!address.mailbox.isEmpty())
        return address.mailbox;
    return QStringLiteral("");
}

QString TDWMessageText::stringFromAddressArray(const QList<TDWImapAddress> &addresses)
{
    if (addresses.isEmpty())
        return {};
    QStringList parts;
    for (const TDWImapAddress &address : addresses)
        parts.append(stringFromAddress(address));
    return parts.join(QStringLiteral(", "));
}

TDWImapAddress TDWMessageText::senderOf(const TDWImapMessageHeader &header)
{
    // Most messages carry no Sender; it stands in only for a missing From.
    if (!header.from.mailbox.isEmpty() || !header.from.displayName.isEmpty())
        return header.from;
    return header.sender;
}

QString TDWMessageText::whoFromMessage(const TDWImapMessageHeader &header, const QString &accountUsername)
{
    QList<TDWImapAddress> parties;
    const TDWImapAddress sender = senderOf(header);
    if (!sender.mailbox.isEmpty() || !sender.displayName.isEmpty())
        parties.append(sender);
    parties += header.to;
    parties += header.cc;
    parties += header.bcc;
    QStringList others;
    for (const TDWImapAddress &address : parties) {
        // An address without a mailbox cannot be told apart from the account's own.
        if (address.mailbox.isEmpty() || address.mailbox.compare(accountUsername, Qt::CaseInsensitive) == 0)
            continue;
        others.append(stringFromAddress(address));
    }
    if (others.isEmpty())
        return translated("me");
    return others.join(QStringLiteral(", "));
}

QString TDWMessageText::titleFor(const TDWImapMessageHeader &header)
{
    if (header.subject.isNull())
        return translated("(no subject)");
    return header.subject;
}

QString TDWMessageText::stringByRemovingSubjectPrefixesFrom(const QString &title)
{
    if (title.isNull())
        return {};
    QString text = title;
    for (;;) {
        for (qsizetype colon = text.indexOf(QLatin1Char(':')); colon >= 0; colon = text.indexOf(QLatin1Char(':'))) {
            const QString prefix = text.left(colon).toLower();
            if (prefix != QLatin1String("re") && prefix != QLatin1String("fwd"))
                break;
            text = text.mid(colon + 1).trimmed();
        }
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (!text.startsWith(QLatin1Char('[')) || close < 0)
            return text;
        text = text.mid(close + 1).trimmed();
    }
}

QString TDWMessageText::dirNameForSubject(const QString &subject)
{
    QString text = subject;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0)
        text = text.mid(colon + 1);
    if (text.isEmpty())
        text = translated("no subject");
    return TDWFileUtils::generateFilenameFromString(capitalised(text));
}
