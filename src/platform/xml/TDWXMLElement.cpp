#include "platform/xml/TDWXMLElement.h"

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
bool matches(const xmlNs *ns, const xmlChar *name, std::string_view qualifiedName)
{
    if (ns && ns->prefix) {
        const std::string_view prefix = view(ns->prefix);
        return qualifiedName.size() == prefix.size() + 1 + view(name).size() && qualifiedName.starts_with(prefix)
            && qualifiedName[prefix.size()] == ':' && qualifiedName.substr(prefix.size() + 1) == view(name);
    }
    return qualifiedName == view(name);
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

QList<TDWXMLElement> TDWXMLElement::children() const
{
    QList<TDWXMLElement> result;
    for (xmlNodePtr child = m_node ? m_node->children : nullptr; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            result.append(TDWXMLElement(child));
    return result;
}

QList<TDWXMLElement> TDWXMLElement::childrenNamed(std::string_view qualifiedName) const
{
    QList<TDWXMLElement> result;
    for (xmlNodePtr child = m_node ? m_node->children : nullptr; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && matches(child->ns, child->name, qualifiedName))
            result.append(TDWXMLElement(child));
    return result;
}

TDWXMLElement TDWXMLElement::firstChildNamed(std::string_view qualifiedName) const
{
    for (xmlNodePtr child = m_node ? m_node->children : nullptr; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && matches(child->ns, child->name, qualifiedName))
            return TDWXMLElement(child);
    return {};
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
