#pragma once

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWError.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStore.h"
#include "services/TDWDocEntry.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include <functional>

// What the processing of one list page knows of the store: the items the page
// names (as entries, parents or children), their latest revisions and their
// current parent links, each fetched page-wide up front so that no entry needs
// a query of its own, and kept up to date with what the page creates. Objects
// the up-front fetches did not cover are looked up one by one.
//
// Changes to the table can be undone per entry (begin/undo/commit), alongside
// the context's savepoint, so a failed entry leaves no trace here either.
class TDWDocListPage
{
public:
    TDWDocListPage(TDWManagedObjectContext &moc, TDWPersistentStorePtr store);

    // Three queries: the items, their latest revisions, their current links.
    // False when one failed (logged).
    bool load(const QList<TDWDocEntry> &entries, TDWError *error);

    TDWDoc::Ptr item(const QString &docId) const { return m_items.value(docId); }
    void addItem(const TDWDoc::Ptr &doc);
    // The item now answers to another id (a calendar stored under its encoded id).
    void renameItem(const QString &oldDocId, const TDWDoc::Ptr &doc);

    // The item's revision marked latest; null for none, and null with the
    // error set when the lookup failed.
    TDWDocRev::Ptr latestRevision(const TDWDoc::Ptr &doc, TDWError *error);
    // The item's latest revision is now this one (null: none).
    void setLatestRevision(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &revision);

    // The current link between the child and the parent; null for none.
    TDWDocParent::Ptr currentLink(const TDWDoc::Ptr &child, const TDWDoc::Ptr &parent);
    // A link just made current.
    void addLink(const TDWDocParent::Ptr &link);
    // The child's current links whose last sighting is not the date; null on failure (logged).
    std::optional<QList<TDWDocParent::Ptr>> currentLinksNotSeenAt(const TDWDoc::Ptr &child, const QDateTime &date);

    void beginEntry();
    void undoEntry();
    void commitEntry() { m_undo.clear(); }

private:
    using LinkKey = QPair<const TDWDoc *, const TDWDoc *>;
    template<class Map, class Key>
    void remember(Map &map, const Key &key);

    TDWManagedObjectContext &m_moc;
    const TDWPersistentStorePtr m_store;
    QHash<QString, TDWDoc::Ptr> m_items;
    // Items whose latest revision and whose links as a child the maps hold in full.
    QSet<const TDWDoc *> m_revisionsKnown;
    QSet<const TDWDoc *> m_linksKnown;
    QHash<const TDWDoc *, TDWDocRev::Ptr> m_latest;
    QHash<LinkKey, TDWDocParent::Ptr> m_links;
    QHash<const TDWDoc *, QList<TDWDocParent::Ptr>> m_linksByChild;
    QList<std::function<void()>> m_undo;
};
