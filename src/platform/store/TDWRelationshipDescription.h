#pragma once

#include <QString>

// What deleting the source object does to the objects a relationship reaches.
enum class TDWDeleteRule {
    Nullify,  // the destinations stop pointing back at the deleted object
    Cascade,  // the destinations are deleted too
    Deny,     // the save fails while the relationship is not empty
    NoAction, // nothing is done to the destinations
};

// One relationship of an entity. A to-one relationship is stored as a column holding
// the destination's row id in the same store; a to-many relationship has no column of
// its own and is read through the column of its to-one inverse.
struct TDWRelationshipDescription
{
    QString name;
    QString destinationEntity;
    bool toMany = false;
    QString inverseName; // empty: no inverse (only allowed for to-one relationships)
    TDWDeleteRule deleteRule = TDWDeleteRule::Nullify;
    // Position of a to-one value among the entity's stored slots; -1 for to-many.
    int slot = -1;

    QString column() const { return name; }
};
