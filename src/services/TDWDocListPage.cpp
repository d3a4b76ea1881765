#include "services/TDWDocListPage.h"

#include "dataobjects/TDWEntityFetch.h"
#include "platform/foundation/TDWLog.h"

TDWDocListPage::TDWDocListPage(TDWManagedObjectContext &moc, TDWPersistentStorePtr store)
    : m_moc(moc)
    , m_store(std::move(store))
{
}

bool TDWDocListPage::load(const QList<TDWDocEntry> &entries, TDWError *error)
{
    QSet<QString> ids;
    for (const TDWDocEntry &entry : entries) {
        ids.insert(entry.docId());
        ids.unite(entry.parentFolderIds());
        if (!entry.childDocId().isEmpty())
            ids.insert(entry.childDocId());
    }
    ids.remove(QString());
    const QStringList idList(ids.cbegin(), ids.cend());

    std::optional<QHash<QString, TDWDoc::Ptr>> items = TDWDoc::byDocIds(idList, m_store, m_moc, error);
    if (!items)
        return false;
    m_items = std::move(*items);
    if (m_items.isEmpty())
        return true;

    // By the items themselves: the link column is indexed, where a test of
    // each revision's item id would read every latest revision of the store.
    QVariantList docs;
    docs.reserve(m_items.size());
    for (const TDWDoc::Ptr &doc : std::as_const(m_items))
        docs.append(TDWEntityFetch::argument(doc));
    TDWError failure;
    const auto revisions = TDWEntityFetch(m_moc, QStringLiteral("DocRev"))
                               .where(QStringLiteral("latest = 1 and doc in %@"), {QVariant(docs)})
                               .in(m_store)
                               .objects<TDWDocRev>(&failure);
    if (!revisions) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: Unable to locate candidateDocRev: %1").arg(failure.localizedDescription()));
        tdwSetError(error, failure);
        return false;
    }
    const auto links = TDWEntityFetch(m_moc, QStringLiteral("DocParent"))
                           .where(QStringLiteral("assocCurrent = 1 and doc in %@"), {QVariant(docs)})
                           .in(m_store)
                           .objects<TDWDocParent>(&failure);
    if (!links) {
        if (!error)
            tdwLog(QStringLiteral("ERROR: Error in TDWDocParent currentForDoc:parent:moc: %1").arg(failure.description()));
        tdwSetError(error, failure);
        return false;
    }
    for (const TDWDoc::Ptr &doc : std::as_const(m_items)) {
        m_revisionsKnown.insert(doc.get());
        m_linksKnown.insert(doc.get());
    }
    for (const TDWDocRev::Ptr &revision : *revisions) {
        const TDWDoc::Ptr doc = revision->doc();
        if (doc && !m_latest.contains(doc.get()))
            m_latest.insert(doc.get(), revision);
    }
    for (const TDWDocParent::Ptr &link : *links) {
        const TDWDoc::Ptr child = link->doc();
        const TDWDoc::Ptr parent = link->parentDoc();
        if (!child || !parent)
            continue;
        const LinkKey key(child.get(), parent.get());
        if (!m_links.contains(key))
            m_links.insert(key, link);
        m_linksByChild[child.get()].append(link);
    }
    return true;
}

template<class Map, class Key>
void TDWDocListPage::remember(Map &map, const Key &key)
{
    const auto found = map.constFind(key);
    if (found != map.cend())
        m_undo.append([&map, key, old = *found] { map.insert(key, old); });
    else
        m_undo.append([&map, key] { map.remove(key); });
}

void TDWDocListPage::addItem(const TDWDoc::Ptr &doc)
{
    remember(m_items, doc->docId());
    m_items.insert(doc->docId(), doc);
    // A new item has nothing stored: the (empty) maps hold all of it.
    if (doc->isInserted()) {
        m_undo.append([this, key = doc.get()] {
            m_revisionsKnown.remove(key);
            m_linksKnown.remove(key);
        });
        m_revisionsKnown.insert(doc.get());
        m_linksKnown.insert(doc.get());
    }
}

void TDWDocListPage::renameItem(const QString &oldDocId, const TDWDoc::Ptr &doc)
{
    remember(m_items, oldDocId);
    m_items.remove(oldDocId);
    addItem(doc);
}

TDWDocRev::Ptr TDWDocListPage::latestRevision(const TDWDoc::Ptr &doc, TDWError *error)
{
    if (m_revisionsKnown.contains(doc.get()))
        return m_latest.value(doc.get());
    TDWError failure;
    TDWDocRev::Ptr latest = TDWDocRev::latestForDoc(doc, QDateTime(), m_moc, &failure);
    if (!failure.isNull()) {
        tdwSetError(error, failure);
        return nullptr;
    }
    return latest;
}

void TDWDocListPage::setLatestRevision(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &revision)
{
    remember(m_latest, static_cast<const TDWDoc *>(doc.get()));
    m_latest.insert(doc.get(), revision);
    if (!m_revisionsKnown.contains(doc.get())) {
        m_undo.append([this, key = doc.get()] { m_revisionsKnown.remove(key); });
        m_revisionsKnown.insert(doc.get());
    }
}

TDWDocParent::Ptr TDWDocListPage::currentLink(const TDWDoc::Ptr &child, const TDWDoc::Ptr &parent)
{
    const TDWDocParent::Ptr known = m_links.value(LinkKey(child.get(), parent.get()));
    if (known && known->assocCurrent())
        return known;
    // Links this page made to a child outside it are in the table too.
    if (known || m_linksKnown.contains(child.get()))
        return nullptr;
    return TDWDocParent::currentForDoc(child, parent, m_moc);
}

void TDWDocListPage::addLink(const TDWDocParent::Ptr &link)
{
    const TDWDoc::Ptr child = link->doc();
    const LinkKey key(child.get(), link->parentDoc().get());
    remember(m_links, key);
    m_links.insert(key, link);
    remember(m_linksByChild, static_cast<const TDWDoc *>(child.get()));
    m_linksByChild[child.get()].append(link);
}

std::optional<QList<TDWDocParent::Ptr>> TDWDocListPage::currentLinksNotSeenAt(const TDWDoc::Ptr &child, const QDateTime &date)
{
    if (!m_linksKnown.contains(child.get()))
        return TDWDocParent::forDoc(child, date, m_moc);
    QList<TDWDocParent::Ptr> stale;
    for (const TDWDocParent::Ptr &link : m_linksByChild.value(child.get()))
        if (link->assocCurrent() && link->lastSeenDate() != date)
            stale.append(link);
    return stale;
}

void TDWDocListPage::beginEntry()
{
    m_undo.clear();
}

void TDWDocListPage::undoEntry()
{
    for (auto it = m_undo.crbegin(); it != m_undo.crend(); ++it)
        (*it)();
    m_undo.clear();
}
