#include "prefs/TDWDiagnosticCurlRun.h"

#include "accounts/TDWGoogleEndpoints.h"
#include "prefs/TDWItemDiagnosticReport.h"
#include "services/TDWCurlOutputFiles.h"

#include <QElapsedTimer>
#include <QFile>

TDWDiagnosticCurlRun::TDWDiagnosticCurlRun(TDWItemDiagnosticReport *report)
    : m_report(report)
{
}

TDWDiagnosticCurlRun::~TDWDiagnosticCurlRun()
{
    if (m_operation)
        m_operation->cancel();
}

void TDWDiagnosticCurlRun::start(const QString &url, const QByteArray &accessToken, Finished finished)
{
    auto files = std::make_shared<const TDWCurlOutputFiles>(TDWCurlOutputFiles::DiagnosticStem);
    if (!files->isValid()) {
        m_report->addOutputString(QStringLiteral("Unable to create the temporary files for curl."));
        finished(std::nullopt);
        return;
    }
    TDWCurlPageFetch::Request request;
    request.url = url;
    request.accessToken = accessToken;
    request.bearerHosts = TDWGoogleEndpoints::bearerHosts();
    request.failOnHttpError = false;
    request.headerFile = files->headerFile();
    request.outputFile = files->dataFile();
    request.maxTime = KillTime;
    m_report->addOutputString(QStringLiteral("Executing curl as follows:\n%1").arg(TDWCurlPageFetch::displayCommand(request)));

    QElapsedTimer started;
    started.start();
    m_operation = TDWCurlPageFetch::operation(request, files);
    m_operation->start([this, files, started, finished = std::move(finished)](const TDWError &, const TDWCurlPageFetch::Result &result) {
        m_operation.reset();
        m_report->addOutputString(QStringLiteral("Time to execute curl: %1 seconds").arg(double(started.nsecsElapsed()) / 1e9, 0, 'f', 6));
        if (result.exitCode != 0) {
            m_report->addOutputString(QStringLiteral("curl command failed"));
            m_report->addOutputString(QString::fromUtf8(result.errorOutput));
            finished(std::nullopt);
            return;
        }
        QFile headers(files->headerFile());
        const QByteArray text = headers.open(QIODevice::ReadOnly) ? headers.readAll() : QByteArray();
        finished(Output{QString::fromUtf8(text).trimmed(), files->dataFile()});
    });
}
