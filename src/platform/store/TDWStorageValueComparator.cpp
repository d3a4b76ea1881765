#include "platform/store/TDWStorageValueComparator.h"

#include "platform/foundation/TDWNumber.h"
#include "platform/store/TDWSqlValueCodec.h"

#include <QCollator>

#include <cstring>

namespace {

int rank(const QVariant &value)
{
    if (value.isNull())
        return 0;
    if (TDWNumber::of(value))
        return 1;
    return value.metaType().id() == QMetaType::QString ? 2 : 3;
}

// Surrogates (U+D800..U+DFFF) encode code points above U+FFFF, so they must sort
// after U+E000..U+FFFF; shifting both ranges gives code point order unit by unit.
char16_t codePointOrder(char16_t unit)
{
    if (unit >= 0xE000)
        return char16_t(unit - 0x800);
    if (unit >= 0xD800)
        return char16_t(unit + 0x2000);
    return unit;
}

} // namespace

TDWStorageValueComparator::TDWStorageValueComparator() = default;
TDWStorageValueComparator::~TDWStorageValueComparator() = default;

QCollator &TDWStorageValueComparator::collator(bool caseInsensitive) const
{
    std::unique_ptr<QCollator> &collator = m_collators[caseInsensitive ? 1 : 0];
    if (!collator) {
        collator = std::make_unique<QCollator>();
        if (caseInsensitive)
            collator->setCaseSensitivity(Qt::CaseInsensitive);
    }
    return *collator;
}

int TDWStorageValueComparator::compareCodePoints(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    const char16_t *ua = reinterpret_cast<const char16_t *>(a.utf16());
    const char16_t *ub = reinterpret_cast<const char16_t *>(b.utf16());
    for (qsizetype i = 0; i < common; ++i) {
        if (ua[i] != ub[i])
            return codePointOrder(ua[i]) < codePointOrder(ub[i]) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int TDWStorageValueComparator::compare(const QVariant &a, const QVariant &b, TDWSortDescriptor::Comparison comparison) const
{
    const int rankA = rank(a);
    const int rankB = rank(b);
    if (rankA != rankB)
        return rankA < rankB ? -1 : 1;
    switch (rankA) {
    case 0:
        return 0;
    case 1:
        return TDWNumber::of(a)->compare(*TDWNumber::of(b));
    case 2:
        switch (comparison) {
        case TDWSortDescriptor::Compare:
            return compareCodePoints(a.toString(), b.toString());
        case TDWSortDescriptor::CaseInsensitive:
            return compareCodePoints(TDWSqlValueCodec::caseFolded(a.toString()), TDWSqlValueCodec::caseFolded(b.toString()));
        case TDWSortDescriptor::Localized:
            return collator(false).compare(a.toString(), b.toString());
        case TDWSortDescriptor::LocalizedCaseInsensitive:
            return collator(true).compare(a.toString(), b.toString());
        }
        return 0;
    default: {
        const QByteArray x = a.toByteArray();
        const QByteArray y = b.toByteArray();
        const int common = int(std::min(x.size(), y.size()));
        const int result = common ? std::memcmp(x.constData(), y.constData(), size_t(common)) : 0;
        if (result != 0)
            return result < 0 ? -1 : 1;
        return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
    }
    }
}
