// Any title and extension, as remote data gives them, through the file-name
// rules: the name is never empty, never "." or "..", never hidden, holds no
// separator or control character, has a UTF-8 form of at most 255 bytes,
// stays one entry inside its folder, and the folder made from it is found
// again by name. Any difference aborts, so the fuzzer reports it.
#include "common/TDWFileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Raw UTF-16 (unpaired surrogates included) or UTF-8, as the first byte says.
QString text(const uint8_t *data, size_t size, bool utf16)
{
    if (utf16)
        return QString(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

void checkName(const QString &name, const QString &folder)
{
    check(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."));
    check(!name.startsWith(QLatin1Char('.')));
    for (const QChar c : name)
        check(c != u'/' && c != u'\\' && c.category() != QChar::Other_Control && c.category() != QChar::Other_Format
              && !c.isNonCharacter());
    const QByteArray encoded = QFile::encodeName(name);
    check(encoded.size() <= 255 && QFile::decodeName(encoded) == name);
    const QString path = QDir(folder).filePath(name);
    check(QDir::cleanPath(path) == path && QFileInfo(path).dir().path() == folder);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QTemporaryDir folder;
    if (size < 2)
        return 0;
    const bool utf16 = data[0] & 1;
    const size_t split = std::min<size_t>(data[1], size - 2);
    const QString title = text(data + 2, size - 2 - split, utf16);
    const QString extension = text(data + size - split, split, utf16);

    const QString name = TDWFileUtils::generateFilenameFromString(title, extension);
    checkName(name, folder.path());
    const QString base = TDWFileUtils::generateFilenameFromString(title);
    checkName(base, folder.path());
    check(name.startsWith(base));
    // A folder named after the title, and its numbered siblings, are known as the title's.
    check(TDWFileUtils::dirName(base, title) && TDWFileUtils::dirName(base + QStringLiteral("-7"), title));
    check(!TDWFileUtils::dirName(base + QStringLiteral("-0"), title));

    if (data[0] & 2) {
        TDWError error;
        const QString made = TDWFileUtils::createDirectoryIn(folder.path(), title, &error);
        check(!made.isEmpty() && QFileInfo(made).isDir() && QFileInfo(made).dir().path() == folder.path());
        check(TDWFileUtils::dirName(QFileInfo(made).fileName(), title));
        check(QDir(made).removeRecursively());
    }
    return 0;
}
