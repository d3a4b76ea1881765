#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWCalendarEventModel.h"
#include "dataobjects/TDWEvent.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

// One calendar's event store, opened again for every check.
class TDWEventTest : public ::testing::Test
{
protected:
    std::unique_ptr<TDWManagedObjectContext> openStore()
    {
        coordinator = std::make_shared<TDWPersistentStoreCoordinator>(TDWCalendarEventModel::model());
        EXPECT_TRUE(coordinator->addPersistentStore(TDWCalendarEventModel::Configuration, path, {}, nullptr));
        return std::make_unique<TDWManagedObjectContext>(coordinator);
    }

    QString path = QDir(tdwtest::freshDir(QStringLiteral("calendarevents"))).filePath(QStringLiteral("calendar.sqlite3"));
    std::shared_ptr<TDWPersistentStoreCoordinator> coordinator;
};

TEST_F(TDWEventTest, SeriesInstancesAndStoredJson)
{
    const QVariantMap json{{QStringLiteral("id"), QStringLiteral("series")},
                           {QStringLiteral("start"), QVariantMap{{QStringLiteral("dateTime"), QStringLiteral("2024-03-01T09:00:00Z")}}},
                           {QStringLiteral("attendees"), QVariantList{QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}}};
    {
        auto moc = openStore();
        auto add = [&moc](const QString &id, const QString &recurring) {
            auto event = moc->insertNew<TDWEvent>(QStringLiteral("Event"));
            event->setEventId(id);
            event->setRecurringEventId(recurring);
            return event;
        };
        add(QStringLiteral("series"), {})->setEventJson(json);
        add(QStringLiteral("single"), {});
        add(QStringLiteral("series_20240308"), QStringLiteral("series"));
        ASSERT_TRUE(moc->save(nullptr));
    }
    auto moc = openStore();
    QStringList topLevel;
    for (const auto &event : TDWEvent::topLevelEvents(*moc).value_or(QList<TDWEvent::Ptr>()))
        topLevel << event->eventId();
    std::sort(topLevel.begin(), topLevel.end());
    EXPECT_EQ(topLevel, (QStringList{QStringLiteral("series"), QStringLiteral("single")}));

    const auto instances = TDWEvent::customizedRecurrencesOf(QStringLiteral("series"), *moc);
    ASSERT_TRUE(instances);
    ASSERT_EQ(instances->size(), 1);
    EXPECT_EQ(instances->first()->eventId(), QStringLiteral("series_20240308"));
    EXPECT_EQ(TDWEvent::customizedRecurrencesOf(QStringLiteral("single"), *moc)->size(), 0);

    const auto series = TDWEvent::byEventId(QStringLiteral("series"), *moc);
    ASSERT_TRUE(series);
    EXPECT_EQ(series->eventJson(), QVariant(json));
    EXPECT_EQ(series->description(), QStringLiteral("event with id series"));
    EXPECT_TRUE(TDWEvent::byEventId(QStringLiteral("single"), *moc)->eventJson().isNull());
    EXPECT_FALSE(TDWEvent::byEventId(QStringLiteral("nosuch"), *moc));
}

} // namespace
