#include "prefs/TDWDiagnosticDocs.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWUrlEncoding.h"
#include "platform/http/TDWHttpOperation.h"
#include "platform/json/TDWJsonReader.h"
#include "prefs/TDWItemDiagnosticReport.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>

TDWDiagnosticDocs::TDWDiagnosticDocs(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report)
    : TDWItemDiagnostic(docRevObjectId, report)
    , m_curl(report)
{
}

TDWDiagnosticDocs::~TDWDiagnosticDocs()
{
    if (m_metadata)
        m_metadata->cancel();
}

void TDWDiagnosticDocs::run()
{
    m_urlStrings.clear();
    const std::optional<Stored> stored = storedOrFinish();
    if (!stored)
        return;
    const QString docId = stored->docId;
    TDWHttpRequest request(QUrl(QStringLiteral("https://%1/drive/v2/files/%2").arg(TDWGoogleEndpoints::apisHost(), TDWUrlEncoding::stringByUrlEncoding(docId))));
    // The client sends the token only to https Google hosts, on each redirect afresh.
    request.setBearerToken(accessToken(), TDWGoogleEndpoints::bearerHosts());
    request.setMaxRedirects(MaxRedirects);
    request.setTotalTimeout(MetadataTimeout);
    m_metadata = std::make_shared<TDWHttpOperation>(request);
    m_metadata->start([this](const TDWError &error, const TDWHttpResponse &response) { metadataDone(error, response); });
}

void TDWDiagnosticDocs::metadataDone(const TDWError &error, const TDWHttpResponse &response)
{
    m_metadata.reset();
    if (!error.isNull() || !response.hasResponse()) {
        const TDWError failure = error.isNull() ? response.error() : error;
        report()->addOutputString(QStringLiteral("Encountered error when retrieving metadata: %1").arg(failure.localizedDescription()));
        report()->done();
        return;
    }
    if (response.statusCode() != 200) {
        report()->addOutputString(QStringLiteral("Unexpected status code (%1) when retrieving metadata.").arg(response.statusCode()));
        report()->done();
        return;
    }
    report()->addOutputString(QStringLiteral("Refreshed metadata: %1").arg(QString::fromUtf8(response.body())));
    const std::optional<QVariantMap> file = TDWJsonReader::parseObject(response.body());
    QString problem;
    const std::optional<QStringList> urls = file ? downloadUrls(*file, &problem) : QStringList();
    if (!urls) {
        report()->addOutputString(QStringLiteral("ERROR parsing metadata: %1").arg(problem));
        report()->done();
        return;
    }
    m_urlStrings = *urls;
    if (m_urlStrings.isEmpty()) {
        report()->done();
        return;
    }
    m_urlIndex = 0;
    m_urlString = m_urlStrings.first();
    startExport();
}

std::optional<QStringList> TDWDiagnosticDocs::downloadUrls(const QVariantMap &file, QString *error)
{
    QStringList urls;
    const auto isText = [](const QVariant &value) { return value.typeId() == QMetaType::QString; };
    if (file.contains(QStringLiteral("downloadUrl"))) {
        const QVariant url = file.value(QStringLiteral("downloadUrl"));
        if (!isText(url)) {
            *error = QStringLiteral("\"downloadUrl\" is not a string.");
            return std::nullopt;
        }
        urls << url.toString();
    }
    if (file.contains(QStringLiteral("exportLinks"))) {
        const QVariant links = file.value(QStringLiteral("exportLinks"));
        if (links.typeId() != QMetaType::QVariantMap) {
            *error = QStringLiteral("\"exportLinks\" is not an object.");
            return std::nullopt;
        }
        // A QVariantMap is ordered by key: the MIME types.
        const QVariantMap map = links.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!isText(it.value())) {
                *error = QStringLiteral("The export link for \"%1\" is not a string.").arg(it.key());
                return std::nullopt;
            }
            urls << it.value().toString();
        }
    }
    return urls;
}

void TDWDiagnosticDocs::startExport()
{
    m_curl.start(m_urlString, accessToken(), [this](const std::optional<TDWDiagnosticCurlRun::Output> &output) { curlDone(output); });
}

void TDWDiagnosticDocs::curlDone(const std::optional<TDWDiagnosticCurlRun::Output> &output)
{
    if (output) {
        report()->addOutputString(output->headers);
        const QString target = redirectTarget(output->headers, m_urlString);
        if (!target.isEmpty() && m_redirects < MaxRedirects) {
            ++m_redirects;
            m_urlString = target;
            report()->addOutputString(QStringLiteral("Following redirect\u2026"));
            startExport();
            return;
        }
        if (!target.isEmpty())
            report()->addOutputString(QStringLiteral("Not following more than %1 redirects.").arg(MaxRedirects));
        report()->addOutputString(QStringLiteral("Resulting file size: %1").arg(QFileInfo(output->dataFile).size()));
    }
    nextUrl();
}

void TDWDiagnosticDocs::nextUrl()
{
    ++m_urlIndex;
    m_redirects = 0;
    if (m_urlIndex < m_urlStrings.size()) {
        report()->addOutputString(QStringLiteral("======="));
        m_urlString = m_urlStrings.at(m_urlIndex);
        startExport();
        return;
    }
    report()->done();
}

QString TDWDiagnosticDocs::redirectTarget(const QString &headers, const QString &url)
{
    const QStringList lines = headers.split(QStringLiteral("\r\n"));
    const QStringList status = lines.value(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int code = status.value(1).toInt();
    if (code != 301 && code != 302)
        return {};
    const auto trimBlanks = [](QString text) {
        while (!text.isEmpty() && (text.front() == u' ' || text.front() == u'\t'))
            text.remove(0, 1);
        while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t'))
            text.chop(1);
        return text;
    };
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0 || trimBlanks(line.left(colon)).toLower() != QLatin1String("location"))
            continue;
        const QString location = trimBlanks(line.mid(colon + 1));
        return location.isEmpty() ? QString() : QUrl(url).resolved(QUrl(location)).toString();
    }
    return {};
}
