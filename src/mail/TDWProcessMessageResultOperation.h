#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWOperation.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QString>

#include <memory>

class TDWMessageFileWriter;

// The message file of one revision and what comes of its download. Before the
// download, prepareFile() gives the writer that the message streams into as
// it arrives (TDWMessageFileWriter, the revision's file in its folder); an
// existing file is replaced only by a complete new one. Once the download is
// over, the operation records the revision's export status (backed up, or
// failed with the download's error, which includes a file that could not be
// written), locks the new file as the settings say and tells the activity
// monitor that the download ended. Runs on the download's writer queue, with
// a store context of its own.
class TDWProcessMessageResultOperation : public TDWOperation
{
    Q_OBJECT

public:
    explicit TDWProcessMessageResultOperation(const TDWManagedObjectID &docRevId);

    // The writer for the revision's message file, its folder made; null when
    // there is nowhere to write (logged, the monitor told): the revision then
    // keeps its status and is asked for again by a later pass.
    std::unique_ptr<TDWMessageFileWriter> prepareFile();
    // The download's error, null when the message file is in place.
    void setInputError(const TDWError &inputError) { m_inputError = inputError; }

protected:
    void main() override;

private:
    void recordFailedDownload();
    void recordBackedUp();

    const TDWManagedObjectID m_docRevId;
    QString m_path;
    TDWError m_inputError;
};
