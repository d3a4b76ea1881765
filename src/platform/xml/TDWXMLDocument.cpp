#include "platform/xml/TDWXMLDocument.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <climits>
#include <mutex>

namespace {

// Entity declarations are where expansion bombs and external loads start;
// the documents we read never need them, so the first one stops the parse.
void refuseEntityDeclaration(void *context, const xmlChar *, int, const xmlChar *, const xmlChar *, xmlChar *)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool *>(ctxt->_private) = true;
    xmlStopParser(ctxt);
}

void initialiseLibraryOnce()
{
    // The library's global tables must be set up once before threads parse concurrently.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

} // namespace

void TDWXMLDocument::Free::operator()(_xmlDoc *doc) const
{
    xmlFreeDoc(doc);
}

TDWXMLDocument::TDWXMLDocument() = default;
TDWXMLDocument::~TDWXMLDocument() = default;
TDWXMLDocument::TDWXMLDocument(TDWXMLDocument &&) noexcept = default;
TDWXMLDocument &TDWXMLDocument::operator=(TDWXMLDocument &&) noexcept = default;

bool TDWXMLDocument::parse(const QByteArray &bytes)
{
    m_doc.reset();
    if (bytes.isEmpty() || bytes.size() > INT_MAX)
        return false;
    initialiseLibraryOnce();
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(bytes.constData(), int(bytes.size()));
    if (!ctxt)
        return false;
    bool refused = false;
    ctxt->_private = &refused;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ctxt->sax->entityDecl = refuseEntityDeclaration;
    ctxt->sax->externalSubset = nullptr;
    xmlParseDocument(ctxt);
    const bool ok = ctxt->wellFormed && !refused && ctxt->myDoc;
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    if (!ok) {
        xmlFreeDoc(doc);
        return false;
    }
    m_doc.reset(doc);
    return true;
}

TDWXMLElement TDWXMLDocument::rootElement() const
{
    return m_doc ? TDWXMLElement(xmlDocGetRootElement(m_doc.get())) : TDWXMLElement();
}
