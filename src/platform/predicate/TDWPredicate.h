#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/predicate/TDWPredicateObjectRef.h"
#include "platform/predicate/TDWPredicateSql.h"
#include "platform/predicate/TDWPredicateSqlSchema.h"
#include "platform/predicate/TDWPredicateSubject.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace TDWPredicateTree { struct Node; }

// A predicate in the Cocoa predicate format syntax: the subset our stores and
// rules use (comparisons, IN, BEGINSWITH/ENDSWITH/CONTAINS/LIKE with [c], [d],
// [cd], AND/OR/NOT, key paths, ANY/ALL/NONE/SOME, SUBQUERY(...).@count, nil,
// YES/NO, TRUEPREDICATE/FALSEPREDICATE, %@ %K %d %f ... arguments and
// $VARIABLES). An immutable value: copies share one tree.
//
// Semantics, the same in memory and in SQL: nil equals only nil and satisfies
// no ordering; numbers and booleans compare by value; values of different kinds
// are unequal; [c] folds case, [d] drops diacritics; an empty string is found
// in nothing (BEGINSWITH "" matches no value); a key path through a to-many
// relationship compares as ANY of its values unless ALL is written, except
// that a collection on the left of CONTAINS or on the right of IN is searched
// for the other side; keys of nil are nil.
class TDWPredicate
{
public:
    TDWPredicate();   // null

    // Null on a malformed format or unusable argument; the error names the
    // position (userInfo "position", a character offset) and what was expected.
    // Arguments: %@ takes any value (an invalid QVariant is nil, a QVariantList
    // or QStringList an array, a TDWPredicateObjectRef an object, a QDateTime a
    // date); %K a key path string; %d %i %ld %lld %u ... an integer; %f %lf %g
    // %e a double.
    static TDWPredicate parse(const QString &format, const QVariantList &arguments = {}, TDWError *error = nullptr);

    static TDWPredicate truePredicate();
    static TDWPredicate falsePredicate();
    // An empty list gives TRUEPREDICATE (AND) or FALSEPREDICATE (OR); one
    // element gives that element; null elements are left out.
    static TDWPredicate andPredicate(const QList<TDWPredicate> &subpredicates);
    static TDWPredicate orPredicate(const QList<TDWPredicate> &subpredicates);
    static TDWPredicate notPredicate(const TDWPredicate &predicate);

    bool isNull() const;

    // Taking a predicate apart, as an editor of rules does.
    enum class Kind { True, False, And, Or, Not, Comparison };
    Kind kind() const;   // False for a null predicate
    QList<TDWPredicate> subpredicates() const;   // of AND, OR and NOT; empty otherwise
    enum Option { CaseInsensitive = 1, DiacriticInsensitive = 2 };
    struct KeyPathComparison {
        QString keyPath;        // "doc.docType"
        QString operatorText;   // canonical: "==", "!=", "<", "<=", ">", ">=", "LIKE", "BEGINSWITH", "ENDSWITH", "IN", "CONTAINS"
        int options = 0;        // Option flags
        QVariant value;         // the constant on the right (arrays as QVariantList)
    };
    // The parts of a comparison "key.path OP constant" without ANY/ALL; none for any other predicate.
    std::optional<KeyPathComparison> keyPathComparison() const;
    // The printed form: parse(p.predicateFormat()) == p.
    QString predicateFormat() const;

    // A copy with every $VARIABLE named in the map replaced by its value (the
    // variables of SUBQUERY stay). Variables missing from the map stay, and
    // evaluating or translating them fails.
    TDWPredicate withSubstitutionVariables(const QVariantMap &variables) const;

    // Whether the subject matches. False, with an error, when the predicate
    // cannot be evaluated (a null predicate or an unsubstituted variable).
    bool evaluate(const TDWPredicateSubject &subject, TDWError *error = nullptr) const;

    // A boolean SQL expression over rows of `entity` under `alias` that selects
    // exactly the rows evaluate() accepts. False, with an error, when a key is
    // unknown or a construct has no SQL form. The connection that runs it needs
    // TDWPredicateSql::registerFunctions.
    bool toSql(const TDWPredicateSqlSchema &schema, const QString &entity, const QString &alias,
               TDWSqlFragment *out, TDWError *error = nullptr) const;

    bool operator==(const TDWPredicate &other) const;

private:
    explicit TDWPredicate(std::shared_ptr<const TDWPredicateTree::Node> root);
    static TDWPredicate compound(bool conjunction, const QList<TDWPredicate> &subpredicates);
    std::shared_ptr<const TDWPredicateTree::Node> m_root;
};

Q_DECLARE_METATYPE(TDWPredicate)
