#pragma once

#include <QString>

// The two files one curl run of a diagnostic writes: the response headers and
// the body, which holds the user's own content. Each run gets files of its own
// (diagnostics of several items may run at once), made empty and private
// (0600) in the program's temporary folder before curl starts, and removed
// when this object goes: after the run ended well or badly, was killed or its
// window closed.
class TDWCurlOutputFiles
{
public:
    // Files named after `stem` ("org.tidewell.GoogleDocsExport"), e.g.
    // "org.tidewell.GoogleDocsExport.headers.Ab12Cd.tmp"; isValid() says whether both were made.
    explicit TDWCurlOutputFiles(const QString &stem);
    ~TDWCurlOutputFiles();
    TDWCurlOutputFiles(const TDWCurlOutputFiles &) = delete;
    TDWCurlOutputFiles &operator=(const TDWCurlOutputFiles &) = delete;

    static inline const QString DiagnosticStem = QStringLiteral("org.tidewell.GoogleDocsExport");

    bool isValid() const { return !m_headerFile.isEmpty() && !m_dataFile.isEmpty(); }
    const QString &headerFile() const { return m_headerFile; }
    const QString &dataFile() const { return m_dataFile; }

private:
    static QString makeFile(const QString &folder, const QString &prefix);

    QString m_headerFile;
    QString m_dataFile;
};
