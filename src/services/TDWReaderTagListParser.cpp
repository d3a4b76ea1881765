#include "services/TDWReaderTagListParser.h"

namespace {

QList<TDWXMLElement> listsNamed(const TDWXMLElement &root, QLatin1String name)
{
    QList<TDWXMLElement> lists;
    for (const TDWXMLElement &list : root.childrenNamed("list"))
        if (list.attribute("name") == name)
            lists.append(list);
    return lists;
}

const QLatin1String kTags("tags");

} // namespace

bool TDWReaderTagListParser::acceptsDocument(const TDWXMLElement &root) const
{
    // A page without the tag list (an error object, another list) is not a tag page.
    return root.hasName("object") && !listsNamed(root, kTags).isEmpty();
}

qint64 TDWReaderTagListParser::numEntries() const
{
    const QList<TDWXMLElement> lists = listsNamed(document().rootElement(), kTags);
    return lists.isEmpty() ? 0 : lists.first().childrenNamed("object").size();
}

QList<TDWDocEntry> TDWReaderTagListParser::docEntries() const
{
    QList<TDWDocEntry> entries;
    for (const TDWXMLElement &list : listsNamed(document().rootElement(), kTags)) {
        for (const TDWXMLElement &object : list.childrenNamed("object")) {
            for (const TDWXMLElement &string : object.childrenNamed("string")) {
                if (string.attribute("name") != QLatin1String("id"))
                    continue;
                const QString id = string.stringValue();
                // The service's own states are not user tags.
                if (id.contains(QLatin1String("/state/com.blogger/")) || id.contains(QLatin1String("/state/com.google/")))
                    continue;
                const QString title = id.mid(id.lastIndexOf(u'/') + 1);
                const QString text = object.stringValue();
                entries.append(docEntryForDocId(id, QStringLiteral("readertag"), title, text));
                entries.append(docEntryForDocId(QStringLiteral("articletag:") + id, QStringLiteral("articletag"), title, text));
            }
        }
    }
    return entries;
}

TDWDocEntry TDWReaderTagListParser::docEntryForDocId(const QString &docId, const QString &docType, const QString &title,
                                                     const QString &xmlString)
{
    TDWDocEntry entry;
    entry.setDocId(docId);
    entry.setDocType(docType);
    entry.setTitle(title);
    entry.setXmlString(xmlString);
    return entry;
}
