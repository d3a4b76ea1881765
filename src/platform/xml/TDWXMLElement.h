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

    class Children;
    // Element children (of one name), walked in place without building a list.
    Children children() const;
    Children childrenNamed(std::string_view qualifiedName) const;
    // The first child of that name, or a null element.
    TDWXMLElement firstChildNamed(std::string_view qualifiedName) const;
    bool hasChildNamed(std::string_view qualifiedName) const;
    // The enclosing element; null for the root.
    TDWXMLElement parent() const;

    // All character data inside the element, concatenated; empty (not null) for an empty element.
    QString stringValue() const;
    // The element as XML text: exactly as the document wrote it, or, for a
    // document in another encoding than UTF-8, serialised.
    QString xmlString() const;

    bool operator==(const TDWXMLElement &other) const = default;

private:
    friend class TDWXMLDocument;
    explicit TDWXMLElement(_xmlNode *node) : m_node(node) {}
    // The element itself or its next element sibling of that name (any name when `anyName`).
    static _xmlNode *nextMatch(_xmlNode *node, std::string_view qualifiedName, bool anyName);

    _xmlNode *m_node = nullptr;
};

class TDWXMLElement::Children
{
public:
    class Iterator
    {
    public:
        TDWXMLElement operator*() const { return TDWXMLElement(m_node); }
        Iterator &operator++()
        {
            m_node = nextMatch(nextSibling(m_node), m_name, m_anyName);
            return *this;
        }
        bool operator==(const Iterator &other) const { return m_node == other.m_node; }

    private:
        friend class Children;
        Iterator(_xmlNode *node, std::string_view name, bool anyName) : m_node(node), m_name(name), m_anyName(anyName) {}
        static _xmlNode *nextSibling(_xmlNode *node);

        _xmlNode *m_node;
        std::string_view m_name;
        bool m_anyName;
    };

    Iterator begin() const { return Iterator(nextMatch(m_first, m_name, m_anyName), m_name, m_anyName); }
    Iterator end() const { return Iterator(nullptr, m_name, m_anyName); }
    bool isEmpty() const { return begin() == end(); }
    qsizetype size() const;
    QList<TDWXMLElement> toList() const;

private:
    friend class TDWXMLElement;
    Children(_xmlNode *first, std::string_view name, bool anyName) : m_first(first), m_name(name), m_anyName(anyName) {}

    _xmlNode *m_first;
    std::string_view m_name;
    bool m_anyName;
};
