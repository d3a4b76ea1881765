#include "services/TDWReaderSubscriptionListParser.h"

#include "platform/foundation/TDWLog.h"

namespace {

QList<TDWXMLElement> childrenWithName(const TDWXMLElement &parent, std::string_view element, QLatin1String name)
{
    QList<TDWXMLElement> matches;
    for (const TDWXMLElement &child : parent.childrenNamed(element))
        if (child.attribute("name") == name)
            matches.append(child);
    return matches;
}

const QLatin1String kSubscriptions("subscriptions");

} // namespace

bool TDWReaderSubscriptionListParser::acceptsDocument(const TDWXMLElement &root) const
{
    // A page without the subscription list would otherwise read as "no subscriptions".
    return root.hasName("object") && !childrenWithName(root, "list", kSubscriptions).isEmpty();
}

qint64 TDWReaderSubscriptionListParser::numEntries() const
{
    const QList<TDWXMLElement> lists = childrenWithName(document().rootElement(), "list", kSubscriptions);
    return lists.isEmpty() ? 0 : lists.first().childrenNamed("object").size();
}

QList<TDWDocEntry> TDWReaderSubscriptionListParser::docEntries() const
{
    QList<TDWDocEntry> entries;
    for (const TDWXMLElement &list : childrenWithName(document().rootElement(), "list", kSubscriptions)) {
        for (const TDWXMLElement &object : list.childrenNamed("object")) {
            QString id, title, site;
            for (const TDWXMLElement &string : object.childrenNamed("string")) {
                const QString name = string.attribute("name");
                if (name == QLatin1String("id"))
                    id = string.stringValue();
                else if (name == QLatin1String("title"))
                    title = string.stringValue();
                else if (name == QLatin1String("htmlUrl"))
                    site = string.stringValue();
            }

            QSet<QString> parents;
            for (const TDWXMLElement &categories : childrenWithName(object, "list", QLatin1String("categories")))
                for (const TDWXMLElement &category : categories.childrenNamed("object"))
                    for (const TDWXMLElement &tagId : childrenWithName(category, "string", QLatin1String("id")))
                        parents.insert(tagId.stringValue());

            if (id.startsWith(QLatin1String("webfeed/"))) {
                // A web feed's title begins with the site's URL.
                const qsizetype blank = title.indexOf(u' ');
                if (blank > 0) {
                    site = title.left(blank);
                } else {
                    tdwLog(QStringLiteral("No space found in webfeed: \u201C%1\u201D").arg(title.isNull() ? QStringLiteral("(null)") : title));
                    site = title;
                }
            } else if (!id.startsWith(QLatin1String("feed/"))) {
                continue;
            }
            if (site.isNull() && id.startsWith(QLatin1String("feed/")))
                site = id.mid(5);

            TDWDocEntry entry;
            entry.setDocId(id);
            entry.setTitle(title);
            entry.setDocType(QStringLiteral("subscription"));
            entry.setParentFolderIds(parents);
            entry.setContentUrl(site);
            entry.setXmlString(object.xmlString());
            entries.append(entry);
        }
    }
    return entries;
}
