#include "services/TDWStoredContactEntry.h"

QByteArray TDWStoredContactEntry::feedDocument(const QString &xmlString)
{
    return QByteArrayLiteral("<?xml version='1.0' encoding='UTF-8'?>"
                             "<feed xmlns='http://www.w3.org/2005/Atom'"
                             " xmlns:openSearch='http://a9.com/-/spec/opensearch/1.1/'"
                             " xmlns:gContact='http://schemas.google.com/contact/2008'"
                             " xmlns:batch='http://schemas.google.com/gdata/batch'"
                             " xmlns:gd='http://schemas.google.com/g/2005'"
                             " gd:etag='W/\"CUMBRn47eCp7I2A9XRZbGE0.\"'>")
        + xmlString.toUtf8() + QByteArrayLiteral("</feed>");
}

bool TDWStoredContactEntry::parse(const QString &xmlString)
{
    return m_document.parse(feedDocument(xmlString));
}

TDWXMLElement TDWStoredContactEntry::entry() const
{
    return m_document.rootElement().firstChildNamed("entry");
}
