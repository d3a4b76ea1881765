#include "common/TDWSpecialMailLabel.h"

TDWSpecialMailLabel::TDWSpecialMailLabel(const QVariantMap &entry)
    : flag(entry.value(QStringLiteral("flag")).toString())
    , label(entry.value(QStringLiteral("label")).toString())
    , folderType(entry.value(QStringLiteral("folderType")).toLongLong())
    , forced(entry.value(QStringLiteral("forced")).toBool())
    , required(entry.value(QStringLiteral("required")).toBool())
{
}
