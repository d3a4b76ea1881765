#pragma once

#include <QColor>
#include <QVariant>

// Turns an enabled flag into a text colour: 1 gives black, anything else
// (0, 2, nothing) grey. There is no way back from a colour to the flag.
class TDWDisabledColorTransformer
{
public:
    static QColor transformedValue(const QVariant &value);
    static constexpr bool allowsReverseTransformation() { return false; }
};
