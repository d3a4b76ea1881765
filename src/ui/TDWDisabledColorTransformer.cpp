#include "ui/TDWDisabledColorTransformer.h"

QColor TDWDisabledColorTransformer::transformedValue(const QVariant &value)
{
    bool isNumber = false;
    const qlonglong number = value.toLongLong(&isNumber);
    return isNumber && number == 1 ? QColor(Qt::black) : QColor(Qt::gray);
}
