#pragma once

#include "services/TDWExportOperation.h"

class TDWHttpResponse;

// Downloads one revision's content with one authenticated GET of its content
// URL into the revision's backup file, then records the outcome through the
// base. It blocks its export queue thread while the body streams to disk, so
// the queue's width bounds the downloads in flight and memory stays flat
// whatever the size.
//
// The body goes to a temporary file beside the revision's file and replaces it
// only once it is complete and as the listing announced it: a failed, cut-off,
// oversized or different download leaves the previous file of the revision as
// it was, and the revision to be fetched again by the next run. A cancel stops
// a download that has not begun; one already running goes to its end.
class TDWStraightDownloadOperation : public TDWExportOperation
{
    Q_OBJECT

public:
    // Room above the listed size before a download is cut off; the size must
    // still match exactly at the end.
    static constexpr qint64 SizeMargin = qint64(64) << 10;
    // The bound of a download whose size the listing does not give (exports of
    // Google's own documents): far above what Google exports.
    static constexpr qint64 UnknownSizeLimit = qint64(1) << 30;

    using TDWExportOperation::TDWExportOperation;

    // What the revision's download must be, from its listing's "fileSize"
    // and "md5Checksum" where Drive gave them.
    static TDWHttpRequest::DownloadCheck downloadCheckFor(const TDWDocRev &rev);

    // The revision's backup file; set once the revision was read.
    QString filePath() const;

protected:
    void main() override;

private:
    void download(const QString &contentUrl, const TDWHttpRequest::DownloadCheck &check);

    mutable std::mutex m_mutex;
    QString m_filePath;
};
