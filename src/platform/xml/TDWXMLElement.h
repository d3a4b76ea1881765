#pragma once

#include <QList>
#include <QString>

#include <string_view>

struct _xmlNode;

// A handle on one element of a TDWXMLDocument (valid while the document lives).
// Names are qualified names as written in the document ("gd:etag"); only
// element children are visible, in document order.
class TDWXMLElement
{
public:
    TDWXMLElement() = default;

    bool isNull() const { return m_node == nullptr; }
    QString qualifiedName() const;
    bool hasName(std::string_view qualifiedName) const;

    // The attribute's value, or a null string when the element has no such attribute.
    QString attribute(std::string_view qualifiedName) const;
    bool hasAttribute(std::string_view qualifiedName) const;

    QList<TDWXMLElement> children() const;
    QList<TDWXMLElement> childrenNamed(std::string_view qualifiedName) const;
    // The first child of that name, or a null element.
    TDWXMLElement firstChildNamed(std::string_view qualifiedName) const;
    bool hasChildNamed(std::string_view qualifiedName) const;
    // The enclosing element; null for the root.
    TDWXMLElement parent() const;

    // All character data inside the element, concatenated; empty (not null) for an empty element.
    QString stringValue() const;
    // The element serialised as XML text (UTF-8 characters kept as they are).
    QString xmlString() const;

    bool operator==(const TDWXMLElement &other) const = default;

private:
    friend class TDWXMLDocument;
    explicit TDWXMLElement(_xmlNode *node) : m_node(node) {}

    _xmlNode *m_node = nullptr;
};
