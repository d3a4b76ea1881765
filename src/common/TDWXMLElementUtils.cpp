#include "common/TDWXMLElementUtils.h"

namespace {

QString qualifiedName(const xmlNode *node)
{
    const QString local = QString::fromUtf8(reinterpret_cast<const char *>(node->name));
    if (node->ns && node->ns->prefix)
        return QString::fromUtf8(reinterpret_cast<const char *>(node->ns->prefix)) + QLatin1Char(':') + local;
    return local;
}

} // namespace

xmlNode *TDWXMLElementUtils::childNamed(const xmlNode *element, const QString &name)
{
    if (!element)
        return nullptr;
    for (xmlNode *child = element->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && qualifiedName(child) == name)
            return child;
    return nullptr;
}

QString TDWXMLElementUtils::stringValueForChildNamed(const xmlNode *element, const QString &name)
{
    const xmlNode *child = childNamed(element, name);
    if (!child)
        return {};
    xmlChar *content = xmlNodeGetContent(child);
    // An element without text still has a string value: the empty one.
    QString value = content ? QString::fromUtf8(reinterpret_cast<const char *>(content)) : QStringLiteral("");
    xmlFree(content);
    return value;
}
