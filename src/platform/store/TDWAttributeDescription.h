#pragma once

#include "platform/store/TDWAttributeType.h"

#include <QString>
#include <QVariant>

// Options given when an attribute is declared.
struct TDWAttributeOptions
{
    // Adds a single-column index.
    bool indexed = false;
    // Keeps a case-folded copy of a string in a hidden column so that sorting and
    // indexing case-insensitively need no per-row function call.
    bool caseInsensitiveKey = false;
    // Value given to the attribute of a newly inserted object.
    QVariant defaultValue = {};
};

// One stored attribute of an entity.
struct TDWAttributeDescription
{
    QString name;
    TDWAttributeType type = TDWAttributeType::String;
    TDWAttributeOptions options;
    // Position of the attribute's value among the entity's stored slots.
    int slot = -1;

    QString column() const { return name; }
    QString caseInsensitiveColumn() const { return name + QStringLiteral("__ci"); }
};
