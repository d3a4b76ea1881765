#pragma once

#include <QString>

#include <libxml/tree.h>

// First-child lookup on libxml2 elements, by the qualified name as the
// document writes it ("entry", "gd:name").
class TDWXMLElementUtils
{
public:
    // The first child element of that name in document order, or null.
    static xmlNode *childNamed(const xmlNode *element, const QString &name);
    // All character data inside that child, or a null string when there is
    // no such child.
    static QString stringValueForChildNamed(const xmlNode *element, const QString &name);
};
