#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QVariantMap>

// One item as one list page describes it: a Drive file or folder, a contact or
// group, a calendar, a task list, a Reader subscription, tag or saved article,
// a Picasa album, photo, comment or tag. A parser sets only what its format
// carries; everything else stays absent (null string, null date, empty set or
// map) or false. A record is filled on one thread and handed over whole.
class TDWDocEntry
{
public:
    const QString &docId() const { return m_docId; }
    void setDocId(const QString &value) { m_docId = value; }
    const QString &etag() const { return m_etag; }
    void setEtag(const QString &value) { m_etag = value; }
    const QString &title() const { return m_title; }
    void setTitle(const QString &value) { m_title = value; }
    const QString &docType() const { return m_docType; }
    void setDocType(const QString &value) { m_docType = value; }
    const QString &mimeType() const { return m_mimeType; }
    void setMimeType(const QString &value) { m_mimeType = value; }
    bool starred() const { return m_starred; }
    void setStarred(bool value) { m_starred = value; }
    bool hidden() const { return m_hidden; }
    void setHidden(bool value) { m_hidden = value; }
    bool shared() const { return m_shared; }
    void setShared(bool value) { m_shared = value; }
    bool liked() const { return m_liked; }
    void setLiked(bool value) { m_liked = value; }
    bool viewedByMe() const { return m_viewedByMe; }
    void setViewedByMe(bool value) { m_viewedByMe = value; }
    const QString &ownerName() const { return m_ownerName; }
    void setOwnerName(const QString &value) { m_ownerName = value; }
    const QString &ownerEmail() const { return m_ownerEmail; }
    void setOwnerEmail(const QString &value) { m_ownerEmail = value; }
    const QString &lastModifiedName() const { return m_lastModifiedName; }
    void setLastModifiedName(const QString &value) { m_lastModifiedName = value; }
    const QString &lastModifiedEmail() const { return m_lastModifiedEmail; }
    void setLastModifiedEmail(const QString &value) { m_lastModifiedEmail = value; }
    const QDateTime &lastModifiedDate() const { return m_lastModifiedDate; }
    void setLastModifiedDate(const QDateTime &value) { m_lastModifiedDate = value; }
    const QDateTime &publishDate() const { return m_publishDate; }
    void setPublishDate(const QDateTime &value) { m_publishDate = value; }
    const QSet<QString> &parentFolderIds() const { return m_parentFolderIds; }
    void setParentFolderIds(const QSet<QString> &value) { m_parentFolderIds = value; }
    const QString &contentUrl() const { return m_contentUrl; }
    void setContentUrl(const QString &value) { m_contentUrl = value; }
    const QString &xmlString() const { return m_xmlString; }
    void setXmlString(const QString &value) { m_xmlString = value; }
    // The item object of a JSON list page, read from its kept text at each call
    // (most entries are never stored, so most are never read); empty when there is none.
    QVariantMap jsonDictionary() const;
    // Whether jsonDictionary() is not empty and equals `value`, found without
    // building it (so the unchanged entries of a listing cost no values);
    // false when unsure.
    bool jsonDictionaryMatches(const QVariant &value) const;
    // The item object's JSON text, as TDWJsonObject::text gives it.
    void setJsonText(const QByteArray &value) { m_jsonText = value; }
    const QString &photoEtag() const { return m_photoEtag; }
    void setPhotoEtag(const QString &value) { m_photoEtag = value; }
    const QString &sourceName() const { return m_sourceName; }
    void setSourceName(const QString &value) { m_sourceName = value; }
    bool deleted() const { return m_deleted; }
    void setDeleted(bool value) { m_deleted = value; }
    const QString &accessRole() const { return m_accessRole; }
    void setAccessRole(const QString &value) { m_accessRole = value; }
    const QString &content() const { return m_content; }
    void setContent(const QString &value) { m_content = value; }
    const QString &filenameExtension() const { return m_filenameExtension; }
    void setFilenameExtension(const QString &value) { m_filenameExtension = value; }
    const QString &childDocId() const { return m_childDocId; }
    void setChildDocId(const QString &value) { m_childDocId = value; }
    const QString &summary() const { return m_summary; }
    void setSummary(const QString &value) { m_summary = value; }
    const QString &location() const { return m_location; }
    void setLocation(const QString &value) { m_location = value; }

    // "DocEntry:  docId: ..., etag: ..., title: ..., docType: ..." for log lines.
    QString description() const;

private:
    QString m_docId;
    QString m_etag;
    QString m_title;
    QString m_docType;
    QString m_mimeType;
    bool m_starred = false;
    bool m_hidden = false;
    bool m_shared = false;
    bool m_liked = false;
    bool m_viewedByMe = false;
    QString m_ownerName;
    QString m_ownerEmail;
    QString m_lastModifiedName;
    QString m_lastModifiedEmail;
    QDateTime m_lastModifiedDate;
    QDateTime m_publishDate;
    QSet<QString> m_parentFolderIds;
    QString m_contentUrl;
    QString m_xmlString;
    QByteArray m_jsonText;
    QString m_photoEtag;
    QString m_sourceName;
    bool m_deleted = false;
    QString m_accessRole;
    QString m_content;
    QString m_filenameExtension;
    QString m_childDocId;
    QString m_summary;
    QString m_location;
};
