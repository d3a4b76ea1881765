#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "platform/http/TDWHttpResponse.h"
#include "prefs/TDWDiagnosticCurlRun.h"
#include "prefs/TDWItemDiagnostic.h"

#include <QStringList>

// The diagnostic of a Drive file: its metadata as the Drive API answers it
// now, then a curl download of its content ("downloadUrl") and of each export
// format ("exportLinks"), one after the other, following 301 and 302
// redirects itself (the Location read against the URL that gave it, at most
// MaxRedirects for one download). Each download decides afresh whether the
// access token goes with it: only to https Google hosts.
class TDWDiagnosticDocs : public TDWItemDiagnostic
{
public:
    static constexpr int MaxRedirects = 10;
    static constexpr std::chrono::seconds MetadataTimeout{120};

    TDWDiagnosticDocs(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report);
    // Cancels a metadata request or a curl run still under way.
    ~TDWDiagnosticDocs() override;

    void run() override;

    // The URLs a file object names for download: "downloadUrl", then the
    // "exportLinks" in the order of their MIME types. Nothing, with `error`
    // set, when those keys hold something else than URLs.
    static std::optional<QStringList> downloadUrls(const QVariantMap &file, QString *error);
    // The redirect target that headers as curl wrote them name, read against
    // `url`; empty when the status is not 301 or 302 or there is no Location.
    static QString redirectTarget(const QString &headers, const QString &url);

private:
    void metadataDone(const TDWError &error, const TDWHttpResponse &response);
    void startExport();
    void curlDone(const std::optional<TDWDiagnosticCurlRun::Output> &output);
    void nextUrl();

    std::shared_ptr<TDWAsyncOperation<TDWHttpResponse>> m_metadata;
    QStringList m_urlStrings;
    qsizetype m_urlIndex = 0;
    QString m_urlString;
    int m_redirects = 0;
    TDWDiagnosticCurlRun m_curl;
};
