#pragma once

#include "services/TDWServiceDelegate.h"

#include <QString>

// Reader: every subscription and saved article is backed up at once as a
// bookmark file, a property list with its "URL" and the same URL and title in
// the file's resources. Reader has no download operation of its own.
class TDWReaderServiceDelegate : public TDWServiceDelegate
{
public:
    TDWReaderServiceDelegate();

    // Writes the bookmark file; backed up (3) when written, else unchanged.
    void docRevFound(const TDWDocRev::Ptr &docRev) override;

    // "feed:" and the address for a feed subscription, else the content URL.
    static QString bookmarkUrl(const TDWDocRev::Ptr &docRev);

private:
    const QString m_serviceBackupsDir;
};
