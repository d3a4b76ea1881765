#include "ParserTestSupport.h"

#include "TestSupport.h"

#include "app/TDWRegisterClasses.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <ctime>

namespace {

// Dates read in the system zone, and the cross-check with Python (which
// inherits this environment), must not depend on the machine: pin the zone
// and the locale before any test runs.
const bool kPinned = [] {
    qputenv("TZ", "Europe/Berlin");
    qputenv("LC_ALL", "C.UTF-8");
    tzset();
    return true;
}();

// Parsers are made by the names the application registers at start-up.
class ApplicationStartUp : public testing::Environment
{
public:
    void SetUp() override { TDWRegisterClasses(); }
};

testing::Environment *const kStartUp = testing::AddGlobalTestEnvironment(new ApplicationStartUp);

} // namespace

namespace parsertest {

QByteArray fixture(const QString &relativePath)
{
    QFile file(tdwtest::sourcePath(QStringLiteral("tests/services/fixtures/") + relativePath));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(relativePath));
    return file.readAll();
}

std::shared_ptr<const TDWParserConfig> config()
{
    static const std::shared_ptr<const TDWParserConfig> shared = [] {
        const QVariantMap table = QJsonDocument::fromJson(fixture(QStringLiteral("servicetable.json"))).object().toVariantMap();
        auto built = std::make_shared<TDWParserConfig>(table);
        built->setGoogleApisHost(QStringLiteral("www.googleapis.com"));
        built->setApiKey(QStringLiteral("test-key+1"));
        return std::shared_ptr<const TDWParserConfig>(built);
    }();
    return shared;
}

QJsonObject canonical(const TDWDocEntry &entry)
{
    QJsonObject out;
    const auto text = [&out](const char *key, const QString &value) {
        if (!value.isNull())
            out.insert(QLatin1String(key), value);
    };
    const auto flag = [&out](const char *key, bool value) {
        if (value)
            out.insert(QLatin1String(key), true);
    };
    const auto date = [&out](const char *key, const QDateTime &value) {
        if (!value.isNull())
            out.insert(QLatin1String(key), value.toUTC().toString(Qt::ISODate));
    };
    text("docId", entry.docId());
    text("etag", entry.etag());
    text("title", entry.title());
    text("docType", entry.docType());
    text("mimeType", entry.mimeType());
    flag("starred", entry.starred());
    flag("hidden", entry.hidden());
    flag("shared", entry.shared());
    flag("liked", entry.liked());
    flag("viewedByMe", entry.viewedByMe());
    flag("deleted", entry.deleted());
    text("ownerName", entry.ownerName());
    text("ownerEmail", entry.ownerEmail());
    text("lastModifiedName", entry.lastModifiedName());
    text("lastModifiedEmail", entry.lastModifiedEmail());
    date("lastModifiedDate", entry.lastModifiedDate());
    date("publishDate", entry.publishDate());
    if (!entry.parentFolderIds().isEmpty()) {
        QStringList parents = entry.parentFolderIds().values();
        parents.sort();
        out.insert(QLatin1String("parentFolderIds"), QJsonArray::fromStringList(parents));
    }
    text("contentUrl", entry.contentUrl());
    text("photoEtag", entry.photoEtag());
    text("sourceName", entry.sourceName());
    text("accessRole", entry.accessRole());
    text("content", entry.content());
    text("filenameExtension", entry.filenameExtension());
    text("childDocId", entry.childDocId());
    text("summary", entry.summary());
    text("location", entry.location());
    return out;
}

} // namespace parsertest
