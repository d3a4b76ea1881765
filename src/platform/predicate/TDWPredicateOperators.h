#pragma once

#include "platform/predicate/TDWPredicateTree.h"

#include <QVariant>

#include <optional>

// The meaning of the comparison operators on single values (numbers, strings,
// dates, data, object references, nil). Evaluation in memory and the SQL
// functions registered on store connections both call these, so the two agree.
class TDWPredicateOperators
{
public:
    enum class Category { Nil, Number, String, Date, Data, Object, Other };
    static Category category(const QVariant &value);

    // [c] folds case (full Unicode default case folding: ß is ss); [d] drops combining marks after
    // canonical decomposition.
    static QString fold(const QString &text, int options);

    // LIKE on already folded text: '*' any run of characters, '?' one
    // character, '\' takes the next character literally.
    static bool like(const QString &text, const QString &pattern);

    // nil equals only nil; numbers (booleans among them) compare by value;
    // values of different categories are unequal.
    static bool equal(const QVariant &a, const QVariant &b, int options);
    // Ordering of two numbers, two strings or two dates; none for anything else.
    static std::optional<int> compare(const QVariant &a, const QVariant &b, int options);

    // One operator on two single values. CONTAINS and IN here test substrings;
    // membership in collections is the caller's.
    static bool test(TDWPredicateTree::Operator op, int options, const QVariant &lhs, const QVariant &rhs);
};
