#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "services/TDWCurlPageFetch.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class TDWItemDiagnosticReport;

// One download of an item diagnostic by curl, shown in the report: the
// command, the time it took, and on failure curl's own words. The headers and
// the body go to files of this run's own, which are gone once the caller has
// looked at them (or the run was released). Used by the Drive and calendar
// diagnostics, one run at a time.
class TDWDiagnosticCurlRun
{
public:
    // A run that curl still has going after this long is ended and fails.
    static constexpr std::chrono::seconds KillTime{120};

    // What a run that curl ended well left: the response headers (trimmed) and
    // the body's file, there while the callback runs.
    struct Output
    {
        QString headers;
        QString dataFile;
    };
    // Nothing when the run failed (already written to the report).
    using Finished = std::function<void(const std::optional<Output> &output)>;

    explicit TDWDiagnosticCurlRun(TDWItemDiagnosticReport *report);
    // Ends a run still going, without a word to the report.
    ~TDWDiagnosticCurlRun();
    TDWDiagnosticCurlRun(const TDWDiagnosticCurlRun &) = delete;
    TDWDiagnosticCurlRun &operator=(const TDWDiagnosticCurlRun &) = delete;

    // `finished` is called on the main thread, unless this run is released first.
    void start(const QString &url, const QByteArray &accessToken, Finished finished);

private:
    TDWItemDiagnosticReport *m_report;
    std::shared_ptr<TDWAsyncOperation<TDWCurlPageFetch::Result>> m_operation;
};
