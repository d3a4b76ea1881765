#include "platform/xml/TDWXMLElement.h"

#include "platform/xml/TDWXMLDocument.h"

#include <libxml/tree.h>
#include <libxml/xmlsave.h>

namespace {

std::string_view view(const xmlChar *text)
{
    return text ? std::string_view(reinterpret_cast<const char *>(text)) : std::string_view();
}

QString toQString(const xmlChar *text)
{
    return QString::fromUtf8(view(text));
}

// A name with a declared prefix is stored as prefix and local name; an
// undeclared prefix stays inside the name. Both read back as written.
// Compared in place: these lookups run for every child of every entry.
bool matches(const xmlNs *ns, const xmlChar *name, std::string_view qualifiedName)
{
    size_t i = 0;
    if (ns && ns->prefix) {
        for (const xmlChar *p = ns->prefix; *p; ++p, ++i)
            if (i >= qualifiedName.size() || qualifiedName[i] != char(*p))
                return false;
        if (i >= qualifiedName.size() || qualifiedName[i] != ':')
            return false;
        ++i;
    }
    for (const xmlChar *p = name; *p; ++p, ++i)
        if (i >= qualifiedName.size() || qualifiedName[i] != char(*p))
            return false;
    return i == qualifiedName.size();
}

xmlAttrPtr findAttribute(xmlNodePtr node, std::string_view qualifiedName)
{
    if (!node)
        return nullptr;
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next)
        if (matches(attr->ns, attr->name, qualifiedName))
            return attr;
    return nullptr;
}

} // namespace

QString TDWXMLElement::qualifiedName() const
{
    if (!m_node)
        return {};
    if (m_node->ns && m_node->ns->prefix)
        return toQString(m_node->ns->prefix) + QLatin1Char(':') + toQString(m_node->name);
    return toQString(m_node->name);
}

bool TDWXMLElement::hasName(std::string_view qualifiedName) const
{
    return m_node && matches(m_node->ns, m_node->name, qualifiedName);
}

QString TDWXMLElement::attribute(std::string_view qualifiedName) const
{
    xmlAttrPtr attr = findAttribute(m_node, qualifiedName);
    if (!attr)
        return {};
    // The common case is a single text node; avoid the copy through libxml's allocator.
    if (attr->children && !attr->children->next && attr->children->type == XML_TEXT_NODE)
        return QString::fromUtf8(view(attr->children->content));
    xmlChar *value = xmlNodeListGetString(m_node->doc, attr->children, 1);
    QString result = value ? toQString(value) : QStringLiteral("");
    xmlFree(value);
    return result;
}

bool TDWXMLElement::hasAttribute(std::string_view qualifiedName) const
{
    return findAttribute(m_node, qualifiedName) != nullptr;
}

_xmlNode *TDWXMLElement::nextMatch(_xmlNode *node, std::string_view qualifiedName, bool anyName)
{
    for (; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE && (anyName || matches(node->ns, node->name, qualifiedName)))
            return node;
    return nullptr;
}

_xmlNode *TDWXMLElement::Children::Iterator::nextSibling(_xmlNode *node)
{
    return node ? node->next : nullptr;
}

TDWXMLElement::Children TDWXMLElement::children() const
{
    return Children(m_node ? m_node->children : nullptr, {}, true);
}

TDWXMLElement::Children TDWXMLElement::childrenNamed(std::string_view qualifiedName) const
{
    return Children(m_node ? m_node->children : nullptr, qualifiedName, false);
}

qsizetype TDWXMLElement::Children::size() const
{
    qsizetype count = 0;
    for (auto it = begin(); it != end(); ++it)
        ++count;
    return count;
}

QList<TDWXMLElement> TDWXMLElement::Children::toList() const
{
    QList<TDWXMLElement> list;
    for (const TDWXMLElement element : *this)
        list.append(element);
    return list;
}

TDWXMLElement TDWXMLElement::firstChildNamed(std::string_view qualifiedName) const
{
    return TDWXMLElement(nextMatch(m_node ? m_node->children : nullptr, qualifiedName, false));
}

bool TDWXMLElement::hasChildNamed(std::string_view qualifiedName) const
{
    return !firstChildNamed(qualifiedName).isNull();
}

TDWXMLElement TDWXMLElement::parent() const
{
    if (m_node && m_node->parent && m_node->parent->type == XML_ELEMENT_NODE)
        return TDWXMLElement(m_node->parent);
    return {};
}

QString TDWXMLElement::stringValue() const
{
    if (!m_node)
        return {};
    xmlNodePtr only = m_node->children;
    if (only && !only->next && (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
        return QString::fromUtf8(view(only->content));
    xmlChar *content = xmlNodeGetContent(m_node);
    QString result = content ? toQString(content) : QString();
    xmlFree(content);
    return result.isNull() ? QStringLiteral("") : result;
}

QString TDWXMLElement::xmlString() const
{
    if (!m_node)
        return {};
    const QString asRead = TDWXMLDocument::sourceText(m_node);
    if (!asRead.isNull())
        return asRead;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer)
        return {};
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
    QString result;
    if (save) {
        xmlSaveTree(save, m_node);
        xmlSaveClose(save);
        result = QString::fromUtf8(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    }
    xmlBufferFree(buffer);
    return result;
}
