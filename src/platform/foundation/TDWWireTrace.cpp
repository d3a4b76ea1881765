#include "platform/foundation/TDWWireTrace.h"

#include "platform/foundation/TDWLog.h"

#include <QRegularExpression>

#include <atomic>

namespace {

constexpr qsizetype MaxTracedBytes = 4096;

std::atomic<int> &enabledState()
{
    static std::atomic<int> state = qEnvironmentVariable("TDW_WIRE_TRACE") == QLatin1String("1") ? 1 : 0;
    return state;
}

const QString SecretNames = QStringLiteral("access_token|refresh_token|id_token|client_secret|code|code_verifier|password");

struct Mask
{
    QRegularExpression pattern;
    QString replacement;
};

const QList<Mask> &masks()
{
    const auto options = QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption;
    static const QList<Mask> list{
        // "Authorization: Bearer ya29..." keeps its scheme name; cookies lose their whole value.
        {QRegularExpression(QStringLiteral("^((?:proxy-)?authorization:[ \\t]*(?:[A-Za-z0-9_-]+[ \\t]+)?)[^\\r\\n]*"), options),
         QStringLiteral("\\1***")},
        {QRegularExpression(QStringLiteral("^((?:set-)?cookie:[ \\t]*)[^\\r\\n]*"), options), QStringLiteral("\\1***")},
        // name=value in a query string or form body; "_" before the name is no
        // boundary, so response_code= and the like stay.
        {QRegularExpression(QStringLiteral("(^|[?&;,\\s\"'])(%1)=[^&;,\\s\"']*").arg(SecretNames), options), QStringLiteral("\\1\\2=***")},
        // The closing quote is optional: a cut text may end inside the value.
        {QRegularExpression(QStringLiteral("\"(%1)\"\\s*:\\s*\"(?:[^\"\\\\\\r\\n]|\\\\.)*\"?").arg(SecretNames), options),
         QStringLiteral("\"\\1\": \"***\"")},
        {QRegularExpression(QStringLiteral("^(\\S+[ \\t]+authenticate[ \\t]+\\S+[ \\t]+)[^\\r\\n]*"), options), QStringLiteral("\\1***")},
        {QRegularExpression(QStringLiteral("^(\\S+[ \\t]+login[ \\t]+)[^\\r\\n]*"), options), QStringLiteral("\\1***")},
    };
    return list;
}

} // namespace

namespace TDWWireTrace {

bool isEnabled()
{
    return enabledState().load() != 0;
}

void setEnabled(bool enabled)
{
    enabledState().store(enabled ? 1 : 0);
}

QByteArray maskSecrets(const QByteArray &text)
{
    // Latin-1 keeps every byte as one character, whatever the encoding of the text.
    QString masked = QString::fromLatin1(text);
    for (const Mask &mask : masks())
        masked.replace(mask.pattern, mask.replacement);
    return masked.toLatin1();
}

void record(const QString &peer, bool sent, const QByteArray &text)
{
    // Cut before masking, so a long body costs little; every mask reaches to
    // the end of its value, or of the text when the cut falls inside one.
    const qsizetype left = text.size() - MaxTracedBytes;
    const QByteArray masked = maskSecrets(left > 0 ? text.left(MaxTracedBytes) : text);
    const QString prefix = QStringLiteral("WIRE %1 %2 ").arg(peer, sent ? QStringLiteral(">") : QStringLiteral("<"));
    for (QByteArray line : masked.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        tdwLog(prefix + QString::fromUtf8(line));
    }
    if (left > 0)
        tdwLog(prefix + QStringLiteral("(%1 more bytes)").arg(left));
}

} // namespace TDWWireTrace
