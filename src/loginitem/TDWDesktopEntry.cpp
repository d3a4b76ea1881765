#include "loginitem/TDWDesktopEntry.h"

#include <QFile>

namespace {

const QString MainGroup = QStringLiteral("Desktop Entry");

QString unescapeString(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw.at(++i);
        switch (next.unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        case '\\': out += u'\\'; break;
        default: out += c; out += next; break; // not an escape: kept as written
        }
    }
    return out;
}

// The boolean values GLib's key-file reader (which the sessions use) accepts.
bool isTrue(const QString &value)
{
    return value == QLatin1String("true") || value == QLatin1String("1");
}

bool isFalse(const QString &value)
{
    return value == QLatin1String("false") || value == QLatin1String("0");
}

// Inside double quotes a backslash escapes only these.
bool isQuotedEscapable(QChar c)
{
    return c == u'"' || c == u'`' || c == u'$' || c == u'\\';
}

} // namespace

std::optional<TDWDesktopEntry> TDWDesktopEntry::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.readAll());
}

std::optional<TDWDesktopEntry> TDWDesktopEntry::parse(const QByteArray &text)
{
    TDWDesktopEntry entry;
    bool seenMain = false;
    bool inMain = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            inMain = line.mid(1, line.size() - 2) == MainGroup;
            seenMain = seenMain || inMain;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inMain || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!key.contains(u'[')) // localised variants are not needed here
            entry.m_values.insert(key, line.mid(eq + 1).trimmed());
    }
    if (!seenMain)
        return std::nullopt;
    return entry;
}

QString TDWDesktopEntry::value(const QString &key) const
{
    return unescapeString(m_values.value(key));
}

bool TDWDesktopEntry::isEnabled() const
{
    return !isTrue(value(QStringLiteral("Hidden"))) && !isFalse(value(QStringLiteral("X-GNOME-Autostart-enabled")));
}

std::optional<QStringList> TDWDesktopEntry::execArguments() const
{
    const QString exec = value(QStringLiteral("Exec"));
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < exec.size() && isQuotedEscapable(exec.at(i + 1))) {
                current += exec.at(++i);
            } else {
                current += c;
            }
        } else if (c == u' ' || c == u'\t') {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else if (c == u'"') {
            quoted = true;
            inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments << current;
    if (arguments.isEmpty() || arguments.first().isEmpty())
        return std::nullopt;
    for (QString &argument : arguments)
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

QString TDWDesktopEntry::execValueForArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c.category() == QChar::Other_Control)
            return {};
        if (isQuotedEscapable(c))
            quoted += u'\\';
        quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    quoted += u'"';
    // The string escape is applied over the quoting: each backslash doubles.
    return quoted.replace(u'\\', QStringLiteral("\\\\"));
}
