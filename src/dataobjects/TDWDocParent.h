#pragma once

#include "dataobjects/TDWMetadataObject.h"
#include "platform/store/TDWManagedObjectContext.h"

#include <QDateTime>
#include <QList>

#include <memory>
#include <optional>

class TDWDoc;

// A dated link saying that one item lay in another (a file in a folder, a
// contact in a group, a message under a label). Current while assocCurrent is
// set; valid at a snapshot S when firstSeenDate <= S < obsoletedDate (or no
// obsoletedDate). A link never reopens: a container seen again gets a new one.
class TDWDocParent : public TDWMetadataObject
{
public:
    using Ptr = std::shared_ptr<TDWDocParent>;

    std::shared_ptr<TDWDoc> doc() const;
    void setDoc(const std::shared_ptr<TDWDoc> &doc);
    std::shared_ptr<TDWDoc> parentDoc() const;
    void setParentDoc(const std::shared_ptr<TDWDoc> &parent);
    bool assocCurrent() const { return boolValue(QStringLiteral("assocCurrent")); }
    void setAssocCurrent(bool current) { setValue(QStringLiteral("assocCurrent"), current); }
    QDateTime firstSeenDate() const { return dateValue(QStringLiteral("firstSeenDate")); }
    void setFirstSeenDate(const QDateTime &date) { setValue(QStringLiteral("firstSeenDate"), date); }
    QDateTime lastSeenDate() const { return dateValue(QStringLiteral("lastSeenDate")); }
    void setLastSeenDate(const QDateTime &date) { setValue(QStringLiteral("lastSeenDate"), date); }
    QDateTime obsoletedDate() const { return dateValue(QStringLiteral("obsoletedDate")); }
    void setObsoletedDate(const QDateTime &date) { setValue(QStringLiteral("obsoletedDate"), date); }

    static Ptr newWithMoc(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store);
    // Whether the child has a current link. A failed count is logged and answered NO.
    static bool currentParentDocExistsFor(const std::shared_ptr<TDWDoc> &doc, TDWManagedObjectContext &moc);
    // The first current link between the two; a duplicate is logged.
    static Ptr currentForDoc(const std::shared_ptr<TDWDoc> &doc, const std::shared_ptr<TDWDoc> &parent, TDWManagedObjectContext &moc);
    // The child's current links that the listing of that date did not confirm.
    static std::optional<QList<Ptr>> forDoc(const std::shared_ptr<TDWDoc> &doc, const QDateTime &lastSeenDateOtherThan,
                                            TDWManagedObjectContext &moc);
    // Closed links closed before the date (candidates for pruning).
    static std::optional<QList<Ptr>> obsoletedBefore(const QDateTime &date, const TDWPersistentStorePtr &store, TDWManagedObjectContext &moc);
};
