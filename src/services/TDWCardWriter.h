#pragma once

#include "dataobjects/TDWDocRev.h"
#include "platform/xml/TDWXMLElement.h"
#include "services/TDWCardCalWriter.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Writes one contact revision as a vCard 3.0 file at the revision's path in
// the contacts backup folder. The source is the contact's Atom entry as the
// contacts feed delivered it (the revision's `xmlString`); the card carries
// the grouping, labels and extension properties that address books import
// (numbered item groups, X-ABLabel, X-ABShowAs, X-ABDATE, X-ABRELATEDNAMES).
// The service table supplies "ContactRelMappings", "ImAccountMappings",
// "ContactRelations" and "Months".
//
// One writer serves one card: made for the revision, given the photo if there
// is one, asked once for the file.
class TDWCardWriter : public TDWCardCalWriter
{
public:
    explicit TDWCardWriter(TDWDocRev::Ptr docRev); // initWithDocRev

    // The photo to embed: the body of the photo answer and its "Content-Type".
    void setImageData(const QByteArray &data, const QString &contentType);
    // True when the file was written; otherwise the reason is logged and an
    // existing file is left as it was. The new file is not locked.
    bool writeContactFile();

private:
    void addName(const TDWXMLElement &contact);
    void addOrganization(const TDWXMLElement &contact);
    void addEmails(const TDWXMLElement &contact);
    void addPhones(const TDWXMLElement &contact);
    void addAddresses(const TDWXMLElement &contact);
    void addInstantMessaging(const TDWXMLElement &contact);
    void addWebsites(const TDWXMLElement &contact);
    void addDates(const TDWXMLElement &contact);
    void addRelations(const TDWXMLElement &contact);
    void addUserDefinedFields(const TDWXMLElement &contact);
    void addPhoto();
    void addNote(const TDWXMLElement &contact);

    // "item<N>." for the next item group; each call opens a new group.
    QString nextGroup();
    void addLabelledItem(const QString &property, const QString &value, const QString &label);
    // Keeps a note for the NOTE property that ends the card.
    void collectNote(const QString &note);

    TDWDocRev::Ptr m_docRev;
    qint64 m_otherDestCounter = 1;
    QVariantMap m_relMappings;
    QVariantMap m_imAccountMappings;
    QString m_miscNotes;
    QByteArray m_imageData;
    QString m_imageContentType;
};
