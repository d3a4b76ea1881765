#pragma once

#include "platform/predicate/TDWPredicateObjectRef.h"

#include <QList>
#include <QVariant>

#include <memory>

class TDWPredicateSubject;

// What reading one key of a subject yields.
struct TDWPredicateValue {
    enum class Kind { Scalar, Object, Objects };
    Kind kind = Kind::Scalar;
    // Attribute value, typed as stored: qlonglong, double, bool, QString,
    // QDateTime or QByteArray. An invalid QVariant is nil.
    QVariant scalar;
    std::shared_ptr<const TDWPredicateSubject> object;           // to-one (nullptr = nil)
    QList<std::shared_ptr<const TDWPredicateSubject>> objects;   // to-many

    static TDWPredicateValue fromScalar(QVariant value)
    {
        TDWPredicateValue v;
        v.scalar = std::move(value);
        return v;
    }
    static TDWPredicateValue fromObject(std::shared_ptr<const TDWPredicateSubject> object)
    {
        TDWPredicateValue v;
        v.kind = Kind::Object;
        v.object = std::move(object);
        return v;
    }
    static TDWPredicateValue fromObjects(QList<std::shared_ptr<const TDWPredicateSubject>> objects)
    {
        TDWPredicateValue v;
        v.kind = Kind::Objects;
        v.objects = std::move(objects);
        return v;
    }
};

// An object whose keys a predicate reads when it is evaluated in memory; the
// store adapts its objects to it.
class TDWPredicateSubject
{
public:
    virtual ~TDWPredicateSubject() = default;
    // An unknown key yields nil.
    virtual TDWPredicateValue valueForKey(const QString &key) const = 0;
    // The stored identity, compared with object constants and with other
    // objects; null for an object that was never saved (then only the same
    // subject is equal to it).
    virtual TDWPredicateObjectRef objectRef() const { return {}; }
};
