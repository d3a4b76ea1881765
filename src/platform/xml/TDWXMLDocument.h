#pragma once

#include "platform/xml/TDWXMLElement.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct _xmlDoc;
struct _xmlNode;

// A parsed XML document whose elements keep their qualified names as written
// and know the text they were read from. Parsing never touches the network or
// the file system, and documents that declare entities are refused, so hostile
// pages cannot expand or load anything.
class TDWXMLDocument
{
public:
    TDWXMLDocument();
    ~TDWXMLDocument();
    TDWXMLDocument(TDWXMLDocument &&) noexcept;
    TDWXMLDocument &operator=(TDWXMLDocument &&) noexcept;

    // Replaces the document with the one in `bytes`; false (and an empty
    // document) when the bytes are not one well-formed document.
    bool parse(const QByteArray &bytes);
    // Why the last parse() failed, in words a report can show; empty after a success.
    const QString &errorDescription() const { return m_errorDescription; }

    bool isNull() const { return !m_doc; }
    // Null when there is no document. Elements stay valid while this document lives.
    TDWXMLElement rootElement() const;

    // What the parse keeps of the document's bytes (opaque outside the parser).
    struct Source;

private:
    friend class TDWXMLElement;
    struct Free
    {
        void operator()(_xmlDoc *doc) const;
    };

    // The element's text exactly as the document's bytes hold it; null when
    // those bytes were not UTF-8 (then only a serialisation can stand for it).
    static QString sourceText(const _xmlNode *node);

    QString m_errorDescription;
    std::unique_ptr<Source> m_source;
    std::unique_ptr<_xmlDoc, Free> m_doc;
};
