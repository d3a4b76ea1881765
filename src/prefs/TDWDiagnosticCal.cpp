#include "prefs/TDWDiagnosticCal.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWUrlEncoding.h"
#include "prefs/TDWItemDiagnosticReport.h"

#include <QFile>
#include <QFileInfo>

namespace {

// The most of an answer's body the report shows.
constexpr qint64 MaxShownBody = 4 << 20;

} // namespace

TDWDiagnosticCal::TDWDiagnosticCal(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report)
    : TDWItemDiagnostic(docRevObjectId, report)
    , m_curl(report)
{
}

QString TDWDiagnosticCal::eventsUrl(const QString &calendarId)
{
    return QStringLiteral("https://%1/calendar/v3/calendars/%2/events")
        .arg(TDWGoogleEndpoints::apisHost(), TDWUrlEncoding::stringByUrlEncoding(calendarId));
}

void TDWDiagnosticCal::run()
{
    const std::optional<Stored> stored = storedOrFinish();
    if (!stored)
        return;
    report()->addOutputString(reformattedEntry(stored->xmlString));
    m_curl.start(eventsUrl(stored->docId), accessToken(), [this](const std::optional<TDWDiagnosticCurlRun::Output> &output) { curlDone(output); });
}

void TDWDiagnosticCal::curlDone(const std::optional<TDWDiagnosticCurlRun::Output> &output)
{
    if (output) {
        report()->addOutputString(output->headers);
        QFile data(output->dataFile);
        const QByteArray body = data.open(QIODevice::ReadOnly) ? data.read(MaxShownBody) : QByteArray();
        report()->addOutputString(QString::fromUtf8(body).trimmed());
        report()->addOutputString(QStringLiteral("Resulting file size: %1").arg(QFileInfo(output->dataFile).size()));
    }
    report()->done();
}
