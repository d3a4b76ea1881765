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
// only once it is complete: a failed or cut-off download leaves the previous
// file of the revision as it was. A cancel stops a download that has not begun;
// one already running goes to its end.
class TDWStraightDownloadOperation : public TDWExportOperation
{
    Q_OBJECT

public:
    using TDWExportOperation::TDWExportOperation;

    // The revision's backup file; set once the revision was read.
    QString filePath() const;

protected:
    void main() override;

private:
    void download(const QString &contentUrl);

    mutable std::mutex m_mutex;
    QString m_filePath;
};
