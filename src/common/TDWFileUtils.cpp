#include "common/TDWFileUtils.h"

#include "common/TDWFileUtilsError.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace {

constexpr qsizetype MaxNameUnits = 32;

bool isKept(char32_t codePoint)
{
    if (codePoint == U'.' || codePoint == U' ' || codePoint == U'-' || codePoint == U'_')
        return true;
    switch (QChar::category(codePoint)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

// Judges whole code points, so a character outside the basic plane is kept or
// dropped as one; an unpaired surrogate (text that is not valid UTF-16) is dropped.
QString keepSafeCharacters(const QString &text)
{
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            if (isKept(QChar::surrogateToUcs4(c, text.at(i + 1)))) {
                kept.append(c);
                kept.append(text.at(i + 1));
            }
            ++i;
        } else if (!c.isSurrogate() && isKept(c.unicode())) {
            kept.append(c);
        }
    }
    return kept;
}

// Cutting between the halves of a surrogate pair would leave text that has no
// UTF-8 form, so such a pair is dropped whole.
QString cutOnCharacterBoundary(const QString &text, qsizetype units)
{
    if (text.size() <= units)
        return text;
    const qsizetype cut = text.at(units - 1).isHighSurrogate() ? units - 1 : units;
    return text.left(cut);
}

QString pathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

// The value a leading integer would have is zero exactly when its digits are all zeros.
bool leadingIntegerIsNonZero(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        if (text.at(i) != QLatin1Char('0'))
            return true;
    }
    return false;
}

TDWError posixError(int code, const QString &path)
{
    return TDWFileUtilsError::make(TDWFileUtilsError::Code(code),
                                   QStringLiteral("Unable to create the folder “%1”: %2").arg(path, QString::fromLocal8Bit(std::strerror(code))));
}

// The n-th name tried for a folder based on `base`: "base", "base-1", "base-2", ...,
// each followed by `suffix` (an extension with its dot, or nothing).
QString numberedName(const QString &parent, const QString &base, qint64 n, const QString &suffix = {})
{
    return QDir(parent).filePath((n == 0 ? base : QStringLiteral("%1-%2").arg(base).arg(n)) + suffix);
}

} // namespace

QString TDWFileUtils::generateFilenameFromString(const QString &title, const QString &extension)
{
    QString name = cutOnCharacterBoundary(keepSafeCharacters(title), MaxNameUnits).trimmed();
    name.replace(QStringLiteral("   "), QStringLiteral(" "));
    name.replace(QStringLiteral("   "), QStringLiteral(" "));
    name.replace(QStringLiteral("  "), QStringLiteral(" "));
    if (name.isEmpty())
        name = QStringLiteral("blank");
    if (name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));

    // Extensions come from remote data too, so they get the same filter and bound.
    const QString suffix = cutOnCharacterBoundary(keepSafeCharacters(extension), MaxNameUnits).trimmed();
    if (!suffix.isEmpty() && suffix != pathExtension(name))
        name += QLatin1Char('.') + suffix;
    return name;
}

QString TDWFileUtils::createDirectoryIn(const QString &parent, const QString &title, TDWError *error)
{
    return createDirectoryWithExtensionIn(parent, title, {}, error);
}

QString TDWFileUtils::createDirectoryWithExtensionIn(const QString &parent, const QString &title, const QString &extension, TDWError *error)
{
    // An empty parent would mean the working directory, which is never where data belongs.
    if (parent.isEmpty()) {
        tdwLog(QStringLiteral("ERROR: Error creating directory at %1: no parent folder given").arg(title));
        tdwSetError(error, posixError(TDWFileUtilsError::NoParentFolder, title));
        return {};
    }
    // The extension is cut off again so that the number can go before it.
    QString base = generateFilenameFromString(title, extension);
    QString suffix;
    if (!extension.isEmpty() && !pathExtension(base).isEmpty()) {
        suffix = QLatin1Char('.') + pathExtension(base);
        base.chop(suffix.size());
    }
    bool parentMade = false;
    for (qint64 n = 0;; ++n) {
        const QString candidate = numberedName(parent, base, n, suffix);
        // mkdir fails on anything already there, dangling links included, so
        // two callers racing for one name never share a directory.
        if (::mkdir(QFile::encodeName(candidate).constData(), TDWPrivateFiles::FolderMode) == 0)
            return candidate;
        const int code = errno;
        if (code == EEXIST)
            continue;
        // The parent is nearly always there already: it is made only when
        // missing, and a failure shows in the next mkdir, with its reason.
        if (code == ENOENT && !parentMade) {
            parentMade = true;
            TDWPrivateFiles::makeFolder(parent);
            --n;
            continue;
        }
        tdwLog(QStringLiteral("ERROR: Error creating directory at %1: %2").arg(candidate, QString::fromLocal8Bit(std::strerror(code))));
        tdwSetError(error, posixError(code, candidate));
        return {};
    }
}

QString TDWFileUtils::moveDirectoryIn(const QString &from, const QString &parent, const QString &title, TDWError *error)
{
    const QString base = generateFilenameFromString(title);
    const QByteArray source = QFile::encodeName(from);
    for (qint64 n = 0;; ++n) {
        const QString candidate = numberedName(parent, base, n);
        // RENAME_NOREPLACE makes taking the name and moving one step, so a
        // folder another thread makes meanwhile is passed over, never replaced.
        if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, QFile::encodeName(candidate).constData(), RENAME_NOREPLACE) == 0)
            return candidate;
        const int code = errno;
        if (code == EEXIST)
            continue;
        tdwSetError(error, TDWFileUtilsError::make(TDWFileUtilsError::Code(code),
                                                   QStringLiteral("Unable to move “%1” to “%2”: %3")
                                                       .arg(from, candidate, QString::fromLocal8Bit(std::strerror(code)))));
        return {};
    }
}

bool TDWFileUtils::dirName(const QString &name, const QString &title)
{
    const QString base = generateFilenameFromString(title);
    if (name == base)
        return true;
    if (!name.startsWith(base + QLatin1Char('-')))
        return false;
    QString rest = name.mid(base.size());
    rest.remove(QLatin1Char('-'));
    return leadingIntegerIsNonZero(rest);
}

QString TDWFileUtils::createTempDir(const QString &parent, const QString &mask)
{
    QByteArray pattern = QFile::encodeName(QDir(parent).filePath(mask));
    if (!::mkdtemp(pattern.data())) {
        tdwLog(QStringLiteral("ERROR: createTempDir failing -- mkdtemp call returned null"));
        return {};
    }
    return QFile::decodeName(pattern);
}

bool TDWFileUtils::emptyDir(const QString &path)
{
    // Read with the C library: a listing that fails must answer false, never "empty".
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return false;
    bool onlyHidden = true;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            onlyHidden = onlyHidden && errno == 0;
            break;
        }
        if (entry->d_name[0] != '.') {
            onlyHidden = false;
            break;
        }
    }
    ::closedir(dir);
    return onlyHidden;
}
