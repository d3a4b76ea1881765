#include "FakeGoogleTest.h"

#include <QJsonDocument>

namespace tdwtest {

FakeGoogleServer *FakeGoogleTest::s_fake = nullptr;

void FakeGoogleTest::startFake(const QJsonObject &scenario)
{
    s_fake = new FakeGoogleServer;
    ASSERT_TRUE(s_fake->start(scenario));
}

void FakeGoogleTest::TearDownTestSuite()
{
    delete s_fake;
    s_fake = nullptr;
}

void FakeGoogleTest::SetUp()
{
    s_fake->control(QStringLiteral("reset"), QJsonDocument(QJsonObject{}));
}

} // namespace tdwtest
