#include "prefs/TDWDiagnosticCal.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWMasterStore.h"
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
    QString calendarId;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const TDWDocRev::Ptr docRev = moc ? revision(*moc) : nullptr;
        const std::shared_ptr<TDWDoc> doc = docRev ? docRev->doc() : nullptr;
        if (!doc) {
            report()->addOutputString(RevisionMissingMessage);
            report()->done();
            return;
        }
        report()->addOutputString(reformattedEntry(docRev->xmlString()));
        calendarId = doc->docId();
    }
    m_curl.start(eventsUrl(calendarId), accessToken(), [this](const std::optional<TDWDiagnosticCurlRun::Output> &output) { curlDone(output); });
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
