#pragma once

#include "FakeGoogleServer.h"

#include <QJsonObject>

#include <gtest/gtest.h>

namespace tdwtest {

// A suite that shares one fake Google server: started before its first test,
// stopped after its last, and reset to its scenario before each test. A suite
// with a scenario starts the fake from its own SetUpTestSuite() with startFake().
class FakeGoogleTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { startFake(); }
    static void TearDownTestSuite();
    void SetUp() override;

    static void startFake(const QJsonObject &scenario = {});

    static FakeGoogleServer *s_fake;
};

} // namespace tdwtest
