// Property-list reader fuzz target: any input either fails cleanly or gives a
// value that writes and reads back equal, so the reader never accepts what the
// writer cannot reproduce.
#include "platform/foundation/TDWPropertyList.h"

#include <QDateTime>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool same(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap(), y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.constBegin(); it != x.constEnd(); ++it) {
            if (!same(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList(), y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!same(x[i], y[i]))
                return false;
        }
        return true;
    }
    case QMetaType::Double:
        return (std::isnan(a.toDouble()) && std::isnan(b.toDouble())) || a.toDouble() == b.toDouble();
    default:
        return a == b;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    TDWError error;
    const QVariant value = TDWPropertyList::read(input, &error);
    if (!value.isValid()) {
        if (error.isNull())
            std::abort(); // a failure must say why
        return 0;
    }
    const QByteArray written = TDWPropertyList::write(value, &error);
    if (written.isEmpty()) {
        std::fprintf(stderr, "read but not writable: %s\n", qPrintable(error.description()));
        std::abort();
    }
    if (!same(value, TDWPropertyList::read(written, nullptr))) {
        std::fprintf(stderr, "round trip changed the value:\n%s\n", written.constData());
        std::abort();
    }
    return 0;
}
