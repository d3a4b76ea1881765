#pragma once

#include "platform/xattr/TDWResourceMap.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The resource fork of one file, opened for writing. Here a file's resources
// live in its extended attribute "user.org.tidewell.resources" (the stored
// form is described in TDWResourceMap.h). They are held in memory while the
// fork is open, starting from those the file already has, and written to the
// attribute when it is closed.
//
//   auto fork = NDResourceFork::resourceForkForWritingAtPath(path);
//   if (fork) {
//       fork->addData(url, NDResourceFork::fourCharCode("url "), 256, {});
//       fork->closeFile();
//   }
class NDResourceFork
{
public:
    static constexpr char AttributeName[] = "user.org.tidewell.resources";

    // The file at `path` (created empty when missing; its folder must exist)
    // with its resources, or null when it cannot be opened for writing or its
    // resources cannot be read. A file system without user extended attributes
    // still opens (with no resources); closing then fails.
    static std::unique_ptr<NDResourceFork> resourceForkForWritingAtPath(const QString &path);

    // Closes the fork if it is still open.
    ~NDResourceFork();
    NDResourceFork(const NDResourceFork &) = delete;
    NDResourceFork &operator=(const NDResourceFork &) = delete;

    // Adds a resource, replacing one of the same type and id. A null name is
    // an empty one. False when the fork is closed or the resource does not
    // fit (a name of more than 255 bytes in UTF-8).
    bool addData(const QByteArray &data, quint32 type, qint16 resourceId, const QString &name);

    // Writes the resources, if any were added, and closes the fork. False (and
    // one "ERROR: " log line) when they could not be written. Does nothing on a
    // closed fork.
    bool closeFile();

    // Positive while open, 0 when closed.
    qint32 fileReference() const { return m_reference; }

    // The type code of four characters, e.g. fourCharCode("TEXT").
    static constexpr quint32 fourCharCode(const char (&code)[5])
    {
        return quint32(quint8(code[0])) << 24 | quint32(quint8(code[1])) << 16 | quint32(quint8(code[2])) << 8 | quint32(quint8(code[3]));
    }

private:
    NDResourceFork(QString path, int fd, TDWResourceMap resources);

    QString m_path;
    int m_fd;
    qint32 m_reference;
    TDWResourceMap m_resources;
    bool m_changed = false;
};
