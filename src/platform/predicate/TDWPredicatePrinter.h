#pragma once

#include "platform/predicate/TDWPredicateTree.h"

// Prints a tree in the predicate format, in a form the parser reads back to an
// equal tree: canonical operator spellings, strings in double quotes, dates,
// data and objects as CAST(...), reserved words used as keys escaped with '#'.
class TDWPredicatePrinter
{
public:
    static QString print(const TDWPredicateTree::Node &node);
    static QString print(const TDWPredicateTree::Expression &expression);
    static QString printConstant(const QVariant &value);
    static QString quoted(const QString &text);
    static QString operatorText(TDWPredicateTree::Operator op);
};
