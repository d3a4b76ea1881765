#pragma once

#include "services/TDWExportOperation.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

// Writes one contact revision as a vCard file. A contact without a photo is
// written at once; for one with a photo the photo is fetched first from the
// revision's content URL, with the back-off that resends after Google's server
// errors, and embedded (a photo that is gone, 404, leaves a card without one).
//
// It runs on its export queue thread and blocks it while the photo loads and,
// after a photo, for a pause of PhotoPause: so each queue slot fetches at most
// one photo every two seconds or so. A cancel ends the pause; a photo already
// loading still goes into the card.
class TDWContactExportOperation : public TDWExportOperation
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds PhotoPause = std::chrono::seconds(2);
    static constexpr std::chrono::seconds PhotoTimeout = std::chrono::seconds(60);

    using TDWExportOperation::TDWExportOperation;

    void cancel() override;

protected:
    void main() override;

private:
    // Writes the card, with the photo when there is one, and records the outcome.
    void writeCard(const std::optional<QByteArray> &imageData, const QString &contentType);
    void fetchPhotoAndWriteCard(const QString &contentUrl);
    // Waits PhotoPause, or until cancel().
    void pauseAfterPhoto();

    std::mutex m_mutex;
    std::condition_variable m_cancelled;
};
