// The registry itself, on a kind of class of its own: what the application's
// start-up registers is tested through that start-up (tests/app).
#include "platform/foundation/TDWClassRegistry.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class Shape
{
public:
    virtual ~Shape() = default;
    virtual QString describe() const = 0;
};

class Circle : public Shape
{
public:
    Circle(const QString &colour, int size)
        : m_text(QStringLiteral("%1 circle of %2").arg(colour).arg(size))
    {
    }
    QString describe() const override { return m_text; }

private:
    QString m_text;
};

class Square : public Shape
{
public:
    Square(const QString &colour, int size)
        : m_text(QStringLiteral("%1 square of %2").arg(colour).arg(size))
    {
    }
    QString describe() const override { return m_text; }

private:
    QString m_text;
};

using Shapes = TDWClassRegistry<Shape, const QString &, int>;
using Others = TDWClassRegistry<Shape, int>;

TEST(TDWClassRegistry, MakesTheClassRegisteredUnderTheName)
{
    Shapes &shapes = Shapes::shared();
    EXPECT_EQ(shapes.create(QStringLiteral("Round"), QStringLiteral("red"), 3), nullptr);

    shapes.registerClass<Circle>(QStringLiteral("Round"));
    const std::unique_ptr<Shape> circle = shapes.create(QStringLiteral("Round"), QStringLiteral("red"), 3);
    ASSERT_NE(circle, nullptr);
    EXPECT_EQ(circle->describe(), QStringLiteral("red circle of 3"));
    // Names are exact: case and the empty name make nothing.
    EXPECT_EQ(shapes.create(QStringLiteral("round"), QStringLiteral("red"), 3), nullptr);
    EXPECT_EQ(shapes.create(QString(), QStringLiteral("red"), 3), nullptr);

    // A second registration of a name replaces the first.
    shapes.registerClass<Square>(QStringLiteral("Round"));
    EXPECT_EQ(shapes.create(QStringLiteral("Round"), QStringLiteral("blue"), 4)->describe(), QStringLiteral("blue square of 4"));

    // Another base or other constructor arguments make another registry.
    EXPECT_EQ(Others::shared().create(QStringLiteral("Round"), 3), nullptr);
}

} // namespace
