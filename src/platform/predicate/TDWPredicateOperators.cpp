#include "platform/predicate/TDWPredicateOperators.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/predicate/TDWPredicateObjectRef.h"

#include <QDateTime>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <limits>

using TDWPredicateTree::Operator;

namespace {

int sign(qint64 a, qint64 b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

// Code-point order, which is what SQLite's binary collation gives on UTF-8.
int compareStrings(const QString &a, const QString &b)
{
    const int c = a.toUtf8().compare(b.toUtf8());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// Full default case folding (ß and ẞ to ss, the ﬁ ligature to fi), which Qt's
// simple folding lacks.
QString foldCase(const QString &text)
{
    // Folding lengthens text at most threefold; ICU takes 32-bit lengths only.
    if (text.size() > std::numeric_limits<int32_t>::max() / 3)
        return text.toCaseFolded();
    QString folded(text.size() * 3, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(reinterpret_cast<UChar *>(folded.data()), int32_t(folded.size()),
                                         reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return text.toCaseFolded();
    folded.truncate(length);
    return folded;
}

bool isMark(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

} // namespace

TDWPredicateOperators::Category TDWPredicateOperators::category(const QVariant &value)
{
    if (!value.isValid())
        return Category::Nil;
    if (TDWNumber::of(value))
        return Category::Number;
    switch (value.metaType().id()) {
    case QMetaType::QString: return Category::String;
    case QMetaType::QDateTime: return value.toDateTime().isValid() ? Category::Date : Category::Nil;
    case QMetaType::QByteArray: return Category::Data;
    default: break;
    }
    if (value.metaType() == QMetaType::fromType<TDWPredicateObjectRef>())
        return Category::Object;
    return Category::Other;
}

QString TDWPredicateOperators::fold(const QString &text, int options)
{
    // Most titles and names are ASCII, where case folding is lowering A-Z and
    // there is no mark to strip; rule updates fold every title of a store.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        if (!(options & TDWPredicateTree::CaseInsensitive))
            return text;
        QString lowered = text;
        for (QChar &c : lowered) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + (u'a' - u'A'));
        }
        return lowered;
    }
    QString folded = text;
    if (options & TDWPredicateTree::CaseInsensitive)
        folded = foldCase(folded);
    if (options & TDWPredicateTree::DiacriticInsensitive) {
        const QString decomposed = folded.normalized(QString::NormalizationForm_D);
        folded.clear();
        folded.reserve(decomposed.size());
        for (const char32_t c : QStringView(decomposed).toUcs4()) {
            if (!isMark(c))
                folded.append(QChar::fromUcs4(c));
        }
    }
    return folded;
}

bool TDWPredicateOperators::like(const QString &text, const QString &pattern)
{
    const QList<uint> s = text.toUcs4();
    const QList<uint> p = pattern.toUcs4();
    qsizetype si = 0, pi = 0;
    // Where to resume after the last '*' when a later literal part fails.
    qsizetype starPattern = -1, starText = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starPattern = ++pi;
            starText = si;
            continue;
        }
        if (pi < p.size() && p[pi] != '*') {
            bool literal = p[pi] != '?';
            qsizetype width = 1;
            if (p[pi] == '\\' && pi + 1 < p.size()) {
                literal = true;
                width = 2;
            }
            const uint expected = p[pi + width - 1];
            if (!literal || expected == s[si]) {
                pi += width;
                ++si;
                continue;
            }
        }
        if (starPattern < 0)
            return false;
        pi = starPattern;
        si = ++starText;
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

bool TDWPredicateOperators::equal(const QVariant &a, const QVariant &b, int options)
{
    const Category ca = category(a);
    if (ca != category(b))
        return false;
    switch (ca) {
    case Category::Nil: return true;
    case Category::Number: return TDWNumber::of(a)->compare(*TDWNumber::of(b)) == 0;
    case Category::String: return fold(a.toString(), options) == fold(b.toString(), options);
    case Category::Date: return a.toDateTime().toMSecsSinceEpoch() == b.toDateTime().toMSecsSinceEpoch();
    case Category::Data: return a.toByteArray() == b.toByteArray();
    case Category::Object: return a.value<TDWPredicateObjectRef>().refersToSameObject(b.value<TDWPredicateObjectRef>());
    case Category::Other: return false;
    }
    return false;
}

std::optional<int> TDWPredicateOperators::compare(const QVariant &a, const QVariant &b, int options)
{
    const Category ca = category(a);
    if (ca != category(b))
        return std::nullopt;
    switch (ca) {
    case Category::Number:
        return TDWNumber::of(a)->compare(*TDWNumber::of(b));
    case Category::String:
        return compareStrings(fold(a.toString(), options), fold(b.toString(), options));
    case Category::Date:
        return sign(a.toDateTime().toMSecsSinceEpoch(), b.toDateTime().toMSecsSinceEpoch());
    default:
        return std::nullopt;
    }
}

bool TDWPredicateOperators::test(Operator op, int options, const QVariant &lhs, const QVariant &rhs)
{
    switch (op) {
    case Operator::Equal:
        return equal(lhs, rhs, options);
    case Operator::NotEqual:
        return !equal(lhs, rhs, options);
    case Operator::Less:
    case Operator::LessOrEqual:
    case Operator::Greater:
    case Operator::GreaterOrEqual: {
        // Unordered pairs (nil, mixed kinds) satisfy no ordering.
        const std::optional<int> order = compare(lhs, rhs, options);
        if (!order)
            return false;
        return op == Operator::Less ? *order < 0
            : op == Operator::LessOrEqual ? *order <= 0
            : op == Operator::Greater ? *order > 0
            : *order >= 0;
    }
    default:
        break;
    }
    if (category(lhs) != Category::String || category(rhs) != Category::String)
        return false;
    const QString left = fold(lhs.toString(), options);
    const QString right = fold(rhs.toString(), options);
    // An empty needle matches nothing: an empty rule must not select every item.
    switch (op) {
    case Operator::Like: return like(left, right);
    case Operator::BeginsWith: return !right.isEmpty() && left.startsWith(right);
    case Operator::EndsWith: return !right.isEmpty() && left.endsWith(right);
    case Operator::Contains: return !right.isEmpty() && left.contains(right);
    case Operator::In: return !left.isEmpty() && right.contains(left);
    default: return false;
    }
}
