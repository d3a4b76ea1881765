#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QByteArray>

// Stores one downloaded message as the message file of its revision
// (TDWMessageFile), records the revision's export status (backed up, or
// failed with the download's error, without data or when the file cannot be
// written) and tells the activity monitor that the download ended. An
// existing file is replaced only by a complete new one. Runs on the download's
// writer queue, with a store context of its own.
class TDWProcessMessageResultOperation : public TDWOperation
{
    Q_OBJECT

public:
    // `data`: the message as the server sent it (null when none came);
    // `inputError`: the download's error (null when it succeeded).
    TDWProcessMessageResultOperation(const TDWManagedObjectID &docRevId, const QByteArray &data, const TDWError &inputError);

protected:
    void main() override;

private:
    void recordFailedDownload();
    void storeMessage();

    const TDWManagedObjectID m_docRevId;
    QByteArray m_data;
    const TDWError m_inputError;
};
