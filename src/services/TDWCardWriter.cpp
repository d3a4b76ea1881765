#include "services/TDWCardWriter.h"

#include "common/TDWBase64.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "platform/foundation/TDWLog.h"
#include "services/TDWStoredContactEntry.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

namespace {

const QString GDataNamespace = QStringLiteral("http://schemas.google.com/g/2005");
const QString OtherLabel = QStringLiteral("_$!<Other>!$_");

QString localized(const char *text)
{
    return QCoreApplication::translate("TDWCardWriter", text);
}

// The text of the element's first child of that name; null when there is none.
QString textOf(const TDWXMLElement &element, std::string_view childName)
{
    const TDWXMLElement child = element.firstChildNamed(childName);
    return child.isNull() ? QString() : child.stringValue();
}

// The leading decimal integer of the text (after blanks, with a sign), 0 when none.
qint64 integerValue(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = trimmed.startsWith(u'-') || trimmed.startsWith(u'+') ? 1 : 0;
    while (end < trimmed.size() && trimmed.at(end).isDigit() && trimmed.at(end).unicode() < 128)
        ++end;
    return trimmed.left(end).toLongLong();
}

// The vCard TYPE of a photo's media type: "image/jpeg; q=1" gives "JPEG",
// anything not an image stands as it is.
QString photoType(const QString &contentType)
{
    if (!contentType.startsWith(QLatin1String("image/")))
        return contentType;
    QString type = contentType.mid(6);
    const qsizetype semicolon = type.indexOf(u';');
    if (semicolon > 0)
        type.truncate(semicolon);
    return type.toUpper();
}

} // namespace

TDWCardWriter::TDWCardWriter(TDWDocRev::Ptr docRev)
    : m_docRev(std::move(docRev))
{
    const QVariantMap config = TDWServiceTable::shared().getConfig();
    m_relMappings = config.value(QStringLiteral("ContactRelMappings")).toMap();
    m_imAccountMappings = config.value(QStringLiteral("ImAccountMappings")).toMap();
}

void TDWCardWriter::setImageData(const QByteArray &data, const QString &contentType)
{
    m_imageData = data;
    m_imageContentType = contentType;
}

bool TDWCardWriter::writeContactFile()
{
    TDWStoredContactEntry stored;
    if (!stored.parse(m_docRev->xmlString())) {
        tdwLog(QStringLiteral("ERROR: Unable to parse doc: %1").arg(QStringLiteral("the stored contact entry is not well-formed XML")));
        return false;
    }
    const TDWXMLElement contact = stored.entry();
    const QString path = QDir(TDWFileMgr::backedUpItemsPathForService(TDWServiceIds::Contacts)).filePath(m_docRev->filePath());

    addLine(QStringLiteral("BEGIN:VCARD"));
    addLine(QStringLiteral("VERSION:3.0"));
    addName(contact);
    addOrganization(contact);
    addEmails(contact);
    addPhones(contact);
    addAddresses(contact);
    addInstantMessaging(contact);
    addWebsites(contact);
    addDates(contact);
    addRelations(contact);
    addUserDefinedFields(contact);
    addPhoto();
    addNote(contact);
    addLine(QStringLiteral("END:VCARD"));

    TDWError error;
    if (!replaceBackupFile(path, &error)) {
        tdwLog(QStringLiteral("ERROR: Unable to write to contact file: %1: %2").arg(path, error.description()));
        return false;
    }
    return true;
}

QString TDWCardWriter::nextGroup()
{
    return QStringLiteral("item%1.").arg(m_otherDestCounter++);
}

void TDWCardWriter::addLabelledItem(const QString &property, const QString &value, const QString &label)
{
    const QString group = nextGroup();
    addLine(group + property + u':' + value);
    addLine(group + QStringLiteral("X-ABLabel:") + label);
}

void TDWCardWriter::collectNote(const QString &note)
{
    m_miscNotes += note + QStringLiteral("\n\n");
}

void TDWCardWriter::addName(const TDWXMLElement &contact)
{
    const TDWXMLElement name = contact.firstChildNamed("gd:name");
    if (!name.isNull()) {
        addLine(QStringLiteral("N:%1;%2;%3;%4;%5")
                    .arg(escape(textOf(name, "gd:familyName")), escape(textOf(name, "gd:givenName")), escape(textOf(name, "gd:additionalName")),
                         escape(textOf(name, "gd:namePrefix")), escape(textOf(name, "gd:nameSuffix"))));
        addLine(QStringLiteral("FN:") + escape(textOf(name, "gd:fullName")));
    } else {
        addLine(QStringLiteral("N:") + escape(m_docRev->title()));
    }
    if (contact.hasChildNamed("gContact:nickname"))
        addLine(QStringLiteral("NICKNAME:") + escape(textOf(contact, "gContact:nickname")));
}

void TDWCardWriter::addOrganization(const TDWXMLElement &contact)
{
    const TDWXMLElement organization = contact.firstChildNamed("gd:organization");
    if (organization.isNull())
        return;
    const QString orgName = textOf(organization, "gd:orgName");
    if (!orgName.isNull())
        addLine(QStringLiteral("ORG:%1;").arg(escape(orgName)));
    const QString orgTitle = textOf(organization, "gd:orgTitle");
    // A title is one text value: a ";" after it would be read as part of it.
    if (!orgTitle.isNull())
        addLine(QStringLiteral("TITLE:") + escape(orgTitle));
    if (!contact.hasChildNamed("gd:name"))
        addLine(QStringLiteral("X-ABShowAs:COMPANY"));
}

void TDWCardWriter::addEmails(const TDWXMLElement &contact)
{
    for (const TDWXMLElement email : contact.childrenNamed("gd:email")) {
        const QString label = email.attribute("label");
        const QString rel = email.attribute("rel");
        const QString mapped = rel.isNull() ? QString() : m_relMappings.value(rel).toString();
        const QString pref = email.attribute("primary") == QLatin1String("true") ? QStringLiteral(";type=pref") : QString();
        const QString address = escape(email.attribute("address"));
        if (!label.isNull())
            addLabelledItem(QStringLiteral("EMAIL"), address, escape(label));
        else if (!mapped.isEmpty())
            addLine(QStringLiteral("EMAIL;%1%2:%3").arg(mapped, pref, address));
        else
            addLabelledItem(QStringLiteral("EMAIL") + pref, address, OtherLabel);
    }
}

void TDWCardWriter::addPhones(const TDWXMLElement &contact)
{
    for (const TDWXMLElement phone : contact.childrenNamed("gd:phoneNumber")) {
        const QString label = phone.attribute("label");
        const QString rel = phone.attribute("rel");
        const QString mapped = rel.isNull() ? QString() : m_relMappings.value(rel).toString();
        const QString number = escape(phone.stringValue());
        if (!label.isNull())
            addLabelledItem(QStringLiteral("TEL"), number, escape(label));
        else if (!mapped.isEmpty())
            addLine(QStringLiteral("TEL;%1:%2").arg(mapped, number));
        else
            addLabelledItem(QStringLiteral("TEL"), number, OtherLabel);
    }
}

void TDWCardWriter::addAddresses(const TDWXMLElement &contact)
{
    for (const TDWXMLElement address : contact.childrenNamed("gd:structuredPostalAddress")) {
        QString rel = address.attribute("rel");
        const qsizetype hash = rel.indexOf(u'#');
        if (hash >= 0)
            rel = rel.mid(hash + 1);
        QStringList streetLines;
        for (const std::string_view part : {"gd:street", "gd:neighborhood", "gd:pobox"}) {
            const QString text = textOf(address, part);
            if (!text.isNull())
                streetLines << text;
        }
        QString street = streetLines.isEmpty() ? QString() : streetLines.join(u'\n');
        // An address typed as free text has only its formatted form: it goes
        // into the street field rather than being lost.
        static constexpr std::string_view Fields[] = {"gd:city", "gd:region", "gd:postcode", "gd:country"};
        if (street.isNull() && std::none_of(std::begin(Fields), std::end(Fields), [&](std::string_view f) { return address.hasChildNamed(f); }))
            street = textOf(address, "gd:formattedAddress");
        const QString value = QStringLiteral(";;%1;%2;%3;%4;%5")
                                  .arg(escape(street), escape(textOf(address, "gd:city")), escape(textOf(address, "gd:region")),
                                       escape(textOf(address, "gd:postcode")), escape(textOf(address, "gd:country")));
        const QString group = nextGroup();
        if (!rel.isNull()) {
            addLine(group + QStringLiteral("ADR;type=%1:%2").arg(parameterValue(rel.toUpper()), value));
        } else {
            addLine(group + QStringLiteral("X-ABLabel:") + escape(address.attribute("label")));
            addLine(group + QStringLiteral("ADR:") + value);
        }
    }
}

void TDWCardWriter::addInstantMessaging(const TDWXMLElement &contact)
{
    const QString googleTalk = GDataNamespace + QStringLiteral("#GOOGLE_TALK");
    for (const TDWXMLElement im : contact.childrenNamed("gd:im")) {
        QString address = im.attribute("address");
        QString protocol = im.attribute("protocol");
        if (protocol.isNull() || protocol == googleTalk) {
            protocol = GDataNamespace + QStringLiteral("#JABBER");
            if (!address.contains(u'@'))
                address += QStringLiteral("@gmail.com");
        }
        const QString mapped = m_imAccountMappings.value(protocol).toString();
        if (!mapped.isEmpty()) {
            addLine(mapped + u':' + escape(address));
            continue;
        }
        QString name = protocol;
        const qsizetype hash = name.indexOf(u'#');
        if (hash >= 0)
            name = name.mid(hash + 1);
        if (name == QLatin1String("SKYPE"))
            name = localized("Skype");
        collectNote(localized("Instant Messaging Account (%1): %2").arg(name, valueOrBlank(address)));
    }
}

void TDWCardWriter::addWebsites(const TDWXMLElement &contact)
{
    for (const TDWXMLElement website : contact.childrenNamed("gContact:website")) {
        QString label = website.attribute("label");
        if (label.isNull())
            label = website.attribute("rel");
        if (label.isNull())
            label = localized("Unknown");
        addLabelledItem(QStringLiteral("URL"), escape(website.attribute("href")), escape(label));
    }
}

void TDWCardWriter::addDates(const TDWXMLElement &contact)
{
    const QVariantList months = TDWServiceTable::shared().getConfig().value(QStringLiteral("Months")).toList();
    for (const TDWXMLElement birthday : contact.childrenNamed("gContact:birthday")) {
        const QString when = birthday.attribute("when");
        if (!when.startsWith(u'-')) {
            // Written as the server gave it, but never with a line break of its own.
            addLine(QStringLiteral("BDAY;value=date:") + withoutLineBreaks(when));
            continue;
        }
        // The year-less form "--MM-DD" becomes a note.
        const QStringList parts = when.split(u'-');
        const qint64 month = parts.size() == 4 ? integerValue(parts[2]) : 0;
        if (month < 1 || month > 12 || month >= months.size()) {
            tdwLog(QStringLiteral("ERROR: Unable to parse birthday: %1").arg(when));
            continue;
        }
        const QString date = QStringLiteral("%1 %2").arg(months.at(month).toString()).arg(integerValue(parts[3]));
        collectNote(localized("Birthday: %1").arg(date));
    }
    for (const TDWXMLElement event : contact.childrenNamed("gContact:event")) {
        const QString start = event.firstChildNamed("gd:when").attribute("startTime");
        const QString group = nextGroup();
        addLine(group + QStringLiteral("X-ABDATE;type=pref:") + withoutLineBreaks(start));
        const bool anniversary = event.attribute("rel") == QLatin1String("anniversary");
        addLine(group + QStringLiteral("X-ABLabel:") + (anniversary ? QStringLiteral("_$!<Anniversary>!$_") : OtherLabel));
    }
}

void TDWCardWriter::addRelations(const TDWXMLElement &contact)
{
    const QVariantMap relations = TDWServiceTable::shared().getConfig().value(QStringLiteral("ContactRelations")).toMap();
    for (const TDWXMLElement relation : contact.childrenNamed("gContact:relation")) {
        const QString rel = relation.attribute("rel");
        QString label = rel.isNull() ? QString() : relations.value(rel).toString();
        if (label.isEmpty())
            label = localized("other");
        addLabelledItem(QStringLiteral("X-ABRELATEDNAMES"), escape(relation.stringValue()), escape(label));
    }
}

void TDWCardWriter::addUserDefinedFields(const TDWXMLElement &contact)
{
    for (const TDWXMLElement field : contact.childrenNamed("gContact:userDefinedField"))
        collectNote(localized("%1: %2").arg(valueOrBlank(field.attribute("key")), valueOrBlank(field.attribute("value"))));
}

void TDWCardWriter::addPhoto()
{
    if (m_imageData.isNull())
        return;
    // The media type comes from the server: without a usable one the photo
    // still goes in, with no TYPE.
    const QString type = parameterValue(photoType(m_imageContentType));
    addLine(type.isEmpty() ? QStringLiteral("PHOTO;BASE64:") : QStringLiteral("PHOTO;TYPE=%1;BASE64:").arg(type));
    const QString encoded = TDWBase64::base64EncodingWithLineLength(m_imageData, 64).replace(u'\n', QStringLiteral("\r\n  "));
    appendUnfolded(QStringLiteral("  ") + encoded + QStringLiteral("\r\n"));
}

void TDWCardWriter::addNote(const TDWXMLElement &contact)
{
    const QString content = textOf(contact, "content");
    if (!m_miscNotes.isEmpty()) {
        if (!content.isEmpty())
            collectNote(localized("Other Notes:\n%1").arg(content));
        addLine(QStringLiteral("NOTE:") + escape(m_miscNotes));
    } else if (!content.isEmpty()) {
        addLine(QStringLiteral("NOTE:") + escape(content));
    }
}
