#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/predicate/TDWPredicateLexer.h"
#include "platform/predicate/TDWPredicateTree.h"

#include <QVariantList>

// Recursive-descent parser of the predicate format, filling placeholders from
// the arguments as it meets them. Precedence, loosest first: OR, AND, NOT.
class TDWPredicateParser
{
public:
    TDWPredicateParser(const QString &format, const QVariantList &arguments);

    // Null on failure, with the error naming the offset where it went wrong.
    TDWPredicateTree::NodePtr parse(TDWError *error);

private:
    using NodePtr = TDWPredicateTree::NodePtr;
    using ExpressionPtr = TDWPredicateTree::ExpressionPtr;

    NodePtr parseOr();
    NodePtr parseAnd();
    NodePtr parseUnary();
    NodePtr parsePrimary();
    NodePtr parseComparison();
    bool parseOperator(TDWPredicateTree::Operator *op, int *options);
    ExpressionPtr parseExpression();
    ExpressionPtr parseOperand();
    ExpressionPtr parseKeys(ExpressionPtr base);
    ExpressionPtr parseSubquery();
    ExpressionPtr parseCast();
    ExpressionPtr parseAggregate();
    ExpressionPtr parseNumber(bool negative);
    ExpressionPtr parsePlaceholder();
    bool appendKeyPathArgument(QStringList *keys);
    const QVariant *takeArgument();

    void advance();
    bool atKeyword(const char *word) const;
    bool atSymbol(const char *symbol) const;
    bool expectSymbol(const char *symbol);
    std::nullptr_t fail(qsizetype position, const QString &expected);
    bool enter();
    void leave() { --m_depth; }

    QString m_format;
    QVariantList m_arguments;
    qsizetype m_nextArgument = 0;
    TDWPredicateLexer m_lexer;
    TDWPredicateLexer::Token m_token;
    int m_depth = 0;
    bool m_failed = false;
    qsizetype m_errorPosition = 0;
    QString m_errorText;
};
