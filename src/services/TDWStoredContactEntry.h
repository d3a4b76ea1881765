#pragma once

#include "platform/xml/TDWXMLDocument.h"
#include "platform/xml/TDWXMLElement.h"

#include <QByteArray>
#include <QString>

// A contact's Atom entry as a revision keeps it (the entry's own text, whose
// prefixes the enclosing feed declared), read back inside a feed that declares
// the Atom, OpenSearch, GData contacts, batch and GData namespaces again.
class TDWStoredContactEntry
{
public:
    // The feed document around `xmlString`.
    static QByteArray feedDocument(const QString &xmlString);

    // False when the wrapped text is not one well-formed document.
    bool parse(const QString &xmlString);
    // The feed's first "entry" child; null when it has none or nothing parsed.
    TDWXMLElement entry() const;

private:
    TDWXMLDocument m_document;
};
