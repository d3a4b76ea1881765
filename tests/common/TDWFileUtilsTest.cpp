#include "common/TDWFileUtils.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString repeated(const QString &text, int times)
{
    return text.repeated(times);
}

// A letter outside the basic plane (CJK Extension B): two UTF-16 units, kept by the filter.
const QString wideLetter = QString::fromUcs4(U"\U00020000");

void touch(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

TEST(TDWFileUtils, GeneratesSafeFileNames)
{
    struct Row
    {
        const char *what;
        QString title;
        QString extension;
        QString expected;
    };
    const Row rows[] = {
        {"punctuation only", QStringLiteral("???"), {}, QStringLiteral("blank")},
        {"empty title", QString(), QStringLiteral("pdf"), QStringLiteral("blank.pdf")},
        {"blank stays blank", QStringLiteral("blank"), {}, QStringLiteral("blank")},
        {"leading full stop after a space", QStringLiteral(" .hidden"), {}, QStringLiteral("_.hidden")},
        {"dot", QStringLiteral("."), {}, QStringLiteral("_.")},
        {"dot dot", QStringLiteral(".."), {}, QStringLiteral("_..")},
        {"four spaces", QStringLiteral("two    words"), {}, QStringLiteral("two words")},
        {"ten spaces", QStringLiteral("a") + repeated(QStringLiteral(" "), 10) + QStringLiteral("b"), {}, QStringLiteral("a b")},
        // Three passes of shortening leave two of 28 spaces; folder names depend on this staying put.
        {"28 spaces", QStringLiteral("a") + repeated(QStringLiteral(" "), 28) + QStringLiteral("b"), {}, QStringLiteral("a  b")},
        {"punctuation removed, not replaced", QStringLiteral("Hello, World!"), {}, QStringLiteral("Hello World")},
        {"slashes removed", QStringLiteral("/etc/passwd"), {}, QStringLiteral("etcpasswd")},
        {"control characters removed", QStringLiteral("a\tb\nc") + QChar(0) + QStringLiteral("d\u007f"), {}, QStringLiteral("abcd")},
        {"symbols removed, spaces shortened", QStringLiteral("Trip \U0001F3D6 photos"), {}, QStringLiteral("Trip photos")},
        {"Cyrillic", QStringLiteral("Привет, мир"), {}, QStringLiteral("Привет мир")},
        {"CJK", QStringLiteral("東京の報告書"), QStringLiteral("pdf"), QStringLiteral("東京の報告書.pdf")},
        {"Devanagari marks kept", QStringLiteral("हिन्दी"), {}, QStringLiteral("हिन्दी")},
        {"Arabic digits kept", QStringLiteral("تقرير ٢٠١٣"), {}, QStringLiteral("تقرير ٢٠١٣")},
        {"40 characters cut to 32 then trimmed", QStringLiteral("abcdefghij abcdefghij abcdefghi xyzxyzxy"), QStringLiteral("pdf"),
         QStringLiteral("abcdefghij abcdefghij abcdefghi.pdf")},
        {"extension already there", QStringLiteral("Plan.pdf"), QStringLiteral("pdf"), QStringLiteral("Plan.pdf")},
        {"extension compared by case", QStringLiteral("Plan.pdf"), QStringLiteral("PDF"), QStringLiteral("Plan.pdf.PDF")},
        {"extension trimmed", QStringLiteral("Plan"), QStringLiteral(" pdf "), QStringLiteral("Plan.pdf")},
        {"blank extension", QStringLiteral("Plan"), QStringLiteral("   "), QStringLiteral("Plan")},
        {"wide letter kept whole", QStringLiteral("x") + wideLetter, {}, QStringLiteral("x") + wideLetter},
        {"wide letter across the cut dropped whole", repeated(QStringLiteral("a"), 31) + wideLetter, {}, repeated(QStringLiteral("a"), 31)},
        {"wide letter inside the cut kept", repeated(QStringLiteral("a"), 30) + wideLetter + QStringLiteral("b"), {}, repeated(QStringLiteral("a"), 30) + wideLetter},
        {"unpaired surrogate dropped", QChar(0xD800) + QStringLiteral("abc") + QChar(0xDC00), {}, QStringLiteral("abc")},
        {"slash in extension", QStringLiteral("report"), QStringLiteral("p/df"), QStringLiteral("report.pdf")},
        {"extension climbing up", QStringLiteral("report"), QStringLiteral("../../etc"), QStringLiteral("report.....etc")},
        {"extension of dots", QStringLiteral("report"), QStringLiteral(".."), QStringLiteral("report...")},
        {"control character extension", QStringLiteral("report"), QStringLiteral("\n"), QStringLiteral("report")},
        {"long extension bounded", QStringLiteral("a"), repeated(QStringLiteral("x"), 40), QStringLiteral("a.") + repeated(QStringLiteral("x"), 32)},
        {"wide letter across the extension cut", QStringLiteral("a"), repeated(QStringLiteral("x"), 31) + wideLetter, QStringLiteral("a.") + repeated(QStringLiteral("x"), 31)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString name = TDWFileUtils::generateFilenameFromString(row.title, row.extension);
        EXPECT_EQ(name, row.expected);
        // Whatever the input, the name must be one path component that Linux can store.
        EXPECT_FALSE(name.contains(QLatin1Char('/')));
        EXPECT_NE(name, QStringLiteral("."));
        EXPECT_NE(name, QStringLiteral(".."));
        EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name);
        EXPECT_LE(name.toUtf8().size(), 255);
        for (const QChar c : name)
            EXPECT_NE(c.category(), QChar::Other_Control);
    }
}

TEST(TDWFileUtils, CreatesNumberedDirectoriesPastAnythingInTheWay)
{
    const QString parent = tdwtest::freshDir();
    ASSERT_TRUE(QDir(parent).mkdir(QStringLiteral("Notes")));
    ASSERT_TRUE(QDir(parent).mkdir(QStringLiteral("Notes-1")));
    touch(QDir(parent).filePath(QStringLiteral("Report")));
    ASSERT_TRUE(QFile::link(QDir(parent).filePath(QStringLiteral("nowhere")), QDir(parent).filePath(QStringLiteral("Plan"))));

    struct Row
    {
        QString title;
        QString expectedName;
    };
    const Row rows[] = {
        {QStringLiteral("Notes"), QStringLiteral("Notes-2")},
        {QStringLiteral("Report"), QStringLiteral("Report-1")}, // a plain file
        {QStringLiteral("Plan"), QStringLiteral("Plan-1")},     // a dangling link
        {QStringLiteral("Q3: plans?"), QStringLiteral("Q3 plans")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.title.toStdString());
        TDWError error;
        const QString path = TDWFileUtils::createDirectoryIn(parent, row.title, &error);
        EXPECT_EQ(path, QDir(parent).filePath(row.expectedName));
        EXPECT_TRUE(QFileInfo(path).isDir());
        EXPECT_TRUE(error.isNull());
    }

    const QString nested = QDir(parent).filePath(QStringLiteral("a/b"));
    EXPECT_EQ(TDWFileUtils::createDirectoryIn(nested, QStringLiteral("Deep"), nullptr), QDir(nested).filePath(QStringLiteral("Deep")));
}

TEST(TDWFileUtils, NumbersMailboxFoldersBeforeTheirExtension)
{
    const QString parent = tdwtest::freshDir();
    struct Row
    {
        const char *title;
        const char *expectedName;
    };
    // A title that already ends in the extension keeps it once; a dot inside
    // the title is not taken for the extension.
    const Row rows[] = {{"Inbox", "Inbox.mbox"},    {"Inbox", "Inbox-1.mbox"},     {"Inbox.mbox", "Inbox-2.mbox"},
                        {"Q1.2024", "Q1.2024.mbox"}, {"Q1.2024", "Q1.2024-1.mbox"}, {"../x", "_..x.mbox"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.title);
        TDWError error;
        const QString path = TDWFileUtils::createDirectoryWithExtensionIn(parent, QString::fromUtf8(row.title), QStringLiteral("mbox"), &error);
        EXPECT_EQ(path, QDir(parent).filePath(QString::fromUtf8(row.expectedName)));
        EXPECT_TRUE(QFileInfo(path).isDir());
        EXPECT_TRUE(error.isNull());
    }
}

TEST(TDWFileUtils, ConcurrentCreatorsNeverShareADirectory)
{
    const QString parent = tdwtest::freshDir();
    std::vector<QString> paths(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < paths.size(); ++i)
        threads.emplace_back([&, i] { paths[i] = TDWFileUtils::createDirectoryIn(parent, QStringLiteral("Same"), nullptr); });
    for (std::thread &t : threads)
        t.join();
    QSet<QString> distinct;
    for (const QString &path : paths) {
        EXPECT_TRUE(QFileInfo(path).isDir()) << path.toStdString();
        distinct.insert(path);
    }
    EXPECT_EQ(distinct.size(), qsizetype(paths.size()));
}

TEST(TDWFileUtils, MovesPastEveryTakenNameAndNeverReplacesAnEmptyFolder)
{
    const QString parent = tdwtest::freshDir();
    const QString from = QDir(parent).filePath(QStringLiteral("Plan"));
    ASSERT_TRUE(QDir().mkdir(from));
    touch(QDir(from).filePath(QStringLiteral("Plan.pdf")));
    // An empty folder under the wanted name, as another item may have just made:
    // rename(2) alone would replace it.
    ASSERT_TRUE(QDir().mkdir(QDir(parent).filePath(QStringLiteral("Budget"))));
    touch(QDir(parent).filePath(QStringLiteral("Budget-1")));

    TDWError error;
    const QString moved = TDWFileUtils::moveDirectoryIn(from, parent, QStringLiteral("Budget"), &error);

    EXPECT_EQ(moved, QDir(parent).filePath(QStringLiteral("Budget-2")));
    EXPECT_TRUE(QFileInfo(QDir(moved).filePath(QStringLiteral("Plan.pdf"))).isFile());
    EXPECT_TRUE(TDWFileUtils::emptyDir(QDir(parent).filePath(QStringLiteral("Budget"))));
    EXPECT_TRUE(QFileInfo(QDir(parent).filePath(QStringLiteral("Budget-1"))).isFile());
    EXPECT_FALSE(QFileInfo::exists(from));

    EXPECT_TRUE(TDWFileUtils::moveDirectoryIn(from, parent, QStringLiteral("Other"), &error).isEmpty());
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_FALSE(QFileInfo::exists(QDir(parent).filePath(QStringLiteral("Other"))));
}

TEST(TDWFileUtils, FailedCreationIsReportedNotAnswered)
{
    const QString dir = tdwtest::freshDir();
    const QString file = QDir(dir).filePath(QStringLiteral("plain-file"));
    touch(file);
    QStringList parents{file, QDir(file).filePath(QStringLiteral("below")), QString()};
    QString readOnly;
    if (::geteuid() != 0) { // permissions do not stop root
        readOnly = QDir(dir).filePath(QStringLiteral("read-only"));
        ASSERT_TRUE(QDir().mkdir(readOnly));
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
        parents << readOnly;
    }
    for (const QString &parent : parents) {
        SCOPED_TRACE(parent.toStdString());
        tdwtest::LogCapture log;
        TDWError error;
        EXPECT_TRUE(TDWFileUtils::createDirectoryIn(parent, QStringLiteral("Notes"), &error).isEmpty());
        EXPECT_FALSE(error.isNull());
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Error creating directory at ")));
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("Notes"))); // never in the working directory
    if (!readOnly.isEmpty())
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(TDWFileUtils, RecognisesNamesBasedOnATitle)
{
    struct Row
    {
        const char *name;
        const char *title;
        bool expected;
    };
    const Row rows[] = {
        {"Notes", "Notes", true},
        {"Notes-12", "Notes", true},
        {"Notes-3x", "Notes", true},
        {"Notes--2", "Notes", true},
        {"Notes-99999999999999999999", "Notes", true},
        {"Notes-", "Notes", false},
        {"Notes-0", "Notes", false},
        {"Notes-x3", "Notes", false},
        {"Notesx", "Notes", false},
        {"notes-1", "Notes", false},
        {"Notes", "Notes?", true},
        {"blank-2", "???", true},
        {"_.hidden-1", ".hidden", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TDWFileUtils::dirName(QString::fromUtf8(row.name), QString::fromUtf8(row.title)), row.expected);
    }
}

TEST(TDWFileUtils, CreatesUniqueTemporaryDirectories)
{
    const QString parent = tdwtest::freshDir();
    const QString first = TDWFileUtils::createTempDir(parent, QStringLiteral("tidewell.XXXXXX"));
    const QString second = TDWFileUtils::createTempDir(parent, QStringLiteral("tidewell.XXXXXX"));
    EXPECT_TRUE(first.startsWith(QDir(parent).filePath(QStringLiteral("tidewell."))));
    EXPECT_TRUE(QFileInfo(first).isDir());
    EXPECT_TRUE(QFileInfo(second).isDir());
    EXPECT_NE(first, second);

    for (const QString &failing : {QDir(parent).filePath(QStringLiteral("missing")), parent}) {
        tdwtest::LogCapture log;
        const QString mask = failing == parent ? QStringLiteral("no-template") : QStringLiteral("tidewell.XXXXXX");
        EXPECT_TRUE(TDWFileUtils::createTempDir(failing, mask).isEmpty());
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: createTempDir failing -- mkdtemp call returned null")));
    }
}

TEST(TDWFileUtils, EmptyDirOnlyWhenListedAndHoldingHiddenEntries)
{
    const QString root = tdwtest::freshDir();
    const QDir dir(root);
    for (const char *name : {"empty", "hidden-only", "mixed", "subdir-only"})
        ASSERT_TRUE(dir.mkdir(QString::fromUtf8(name)));
    touch(dir.filePath(QStringLiteral("hidden-only/.DS_Store")));
    touch(dir.filePath(QStringLiteral("hidden-only/.another")));
    touch(dir.filePath(QStringLiteral("mixed/.DS_Store")));
    touch(dir.filePath(QStringLiteral("mixed/report.pdf")));
    ASSERT_TRUE(dir.mkdir(QStringLiteral("subdir-only/inner")));
    touch(dir.filePath(QStringLiteral("file")));

    struct Row
    {
        const char *path;
        bool expected;
    };
    const Row rows[] = {
        {"empty", true},
        {"hidden-only", true},
        {"mixed", false},
        {"subdir-only", false},
        {"missing", false},
        {"file", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(TDWFileUtils::emptyDir(dir.filePath(QString::fromUtf8(row.path))), row.expected);
    }
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("hidden-only/.DS_Store")))); // nothing deleted
}
