#include "platform/xml/TDWXMLDocument.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <vector>

// The bytes a document was read from and, per element, where its text lies in them.
struct TDWXMLDocument::Source
{
    QByteArray bytes;
    std::vector<std::pair<qsizetype, qsizetype>> ranges; // [start, end) by element number - 1
    bool exact = true;
};

namespace {

struct ParseState
{
    bool refused = false;
    TDWXMLDocument::Source *source = nullptr;
};

ParseState &stateOf(void *context)
{
    return *static_cast<ParseState *>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

// Entity declarations are where expansion bombs and external loads start;
// the documents we read never need them, so the first one stops the parse.
void refuseEntityDeclaration(void *context, const xmlChar *, int, const xmlChar *, const xmlChar *, xmlChar *)
{
    stateOf(context).refused = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

// Notes where each element's start tag begins: the last "<" before the parse
// position, since no "<" can stand inside a start tag.
void startElement(void *context, const xmlChar *localName, const xmlChar *prefix, const xmlChar *uri, int namespaceCount,
                  const xmlChar **namespaces, int attributeCount, int defaultedCount, const xmlChar **attributes)
{
    xmlSAX2StartElementNs(context, localName, prefix, uri, namespaceCount, namespaces, attributeCount, defaultedCount, attributes);
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    TDWXMLDocument::Source &source = *stateOf(context).source;
    if (!ctxt->node || ctxt->node->type != XML_ELEMENT_NODE)
        return;
    const long consumed = xmlByteConsumed(ctxt);
    qsizetype start = -1;
    if (consumed > 0 && consumed <= source.bytes.size()) {
        const void *open = memrchr(source.bytes.constData(), '<', size_t(consumed));
        start = open ? static_cast<const char *>(open) - source.bytes.constData() : -1;
    }
    source.ranges.emplace_back(start, -1);
    ctxt->node->_private = reinterpret_cast<void *>(std::uintptr_t(source.ranges.size()));
}

// Notes where each element's end tag (or empty-element tag) ends.
void endElement(void *context, const xmlChar *localName, const xmlChar *prefix, const xmlChar *uri)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    TDWXMLDocument::Source &source = *stateOf(context).source;
    if (ctxt->node && ctxt->node->_private) {
        const auto number = reinterpret_cast<std::uintptr_t>(ctxt->node->_private);
        if (number <= source.ranges.size())
            source.ranges[number - 1].second = xmlByteConsumed(ctxt);
    }
    xmlSAX2EndElementNs(context, localName, prefix, uri);
}

QString describeFailure(xmlParserCtxtPtr ctxt, bool refused)
{
    if (refused)
        return QStringLiteral("The document declares entities, which are not read.");
    const xmlError *error = xmlCtxtGetLastError(ctxt);
    if (!error || !error->message)
        return QStringLiteral("The document is not well-formed XML.");
    return QStringLiteral("Line %1: %2").arg(error->line).arg(QString::fromUtf8(error->message).trimmed());
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
    m_source.reset();
    m_errorDescription.clear();
    if (bytes.isEmpty() || bytes.size() > INT_MAX) {
        m_errorDescription = bytes.isEmpty() ? QStringLiteral("The document is empty.") : QStringLiteral("The document is too large.");
        return false;
    }
    initialiseLibraryOnce();
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(bytes.constData(), int(bytes.size()));
    if (!ctxt) {
        m_errorDescription = QStringLiteral("The parser could not be made.");
        return false;
    }
    auto source = std::make_unique<Source>();
    source->bytes = bytes;
    ParseState state;
    state.source = source.get();
    ctxt->_private = &state;
    // Small text nodes live inside their nodes (the tree is never changed afterwards).
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT);
    ctxt->sax->entityDecl = refuseEntityDeclaration;
    ctxt->sax->externalSubset = nullptr;
    ctxt->sax->startElementNs = startElement;
    ctxt->sax->endElementNs = endElement;
    xmlParseDocument(ctxt);
    const bool ok = ctxt->wellFormed && !state.refused && ctxt->myDoc;
    // Text converted from another encoding no longer matches the bytes.
    source->exact = !(ctxt->input && ctxt->input->buf && ctxt->input->buf->encoder);
    if (!ok)
        m_errorDescription = describeFailure(ctxt, state.refused);
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    if (!ok) {
        xmlFreeDoc(doc);
        return false;
    }
    doc->_private = source.get();
    m_source = std::move(source);
    m_doc.reset(doc);
    return true;
}

QString TDWXMLDocument::sourceText(const _xmlNode *node)
{
    const Source *source = node && node->doc ? static_cast<const Source *>(node->doc->_private) : nullptr;
    const auto number = node ? reinterpret_cast<std::uintptr_t>(node->_private) : 0;
    if (!source || !source->exact || number == 0 || number > source->ranges.size())
        return {};
    const auto [start, end] = source->ranges[number - 1];
    if (start < 0 || end <= start || end > source->bytes.size() || source->bytes[start] != '<' || source->bytes[end - 1] != '>')
        return {};
    return QString::fromUtf8(source->bytes.constData() + start, end - start);
}

TDWXMLElement TDWXMLDocument::rootElement() const
{
    return m_doc ? TDWXMLElement(xmlDocGetRootElement(m_doc.get())) : TDWXMLElement();
}
