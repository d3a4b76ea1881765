#pragma once

#include "ScriptedKeyring.h"
#include "TestSupport.h"

#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"

#include <gtest/gtest.h>

// These suites run once per store. The build names the run (TDW_KEYRING_RUN:
// OnFile, OnSecretService) and it ends every suite name, so the tests of the
// two runs have names of their own.
#define TDW_KEYRING_CAT2(a, b) a##b
#define TDW_KEYRING_CAT(a, b) TDW_KEYRING_CAT2(a, b)
#define TDW_KEYRING_SUITE(name) TDW_KEYRING_CAT(name, TDW_KEYRING_RUN)

// Every test gets the store this run was started with (TDW_KEYRING): a fresh
// file store of its own, or the run's gnome-keyring, where the user names of
// each test are its own. The program's keyring is a ScriptedKeyring around it.
class KeychainFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static const std::shared_ptr<TDWKeyringBackend> runKeyring = TDWKeyring::makeBackend(qgetenv("TDW_KEYRING"));
        if (runKeyring->name() == QStringLiteral("file"))
            real = std::make_shared<TDWFileKeyring>(tdwtest::freshDir(QStringLiteral("keyring")));
        else
            real = runKeyring;
        scripted = std::make_shared<ScriptedKeyring>(real);
        TDWKeyring::setBackend(scripted);
    }

    void TearDown() override { TDWKeyring::setBackend(nullptr); }

    // A user name of this test alone.
    static QString user(const QString &tag = QStringLiteral("user"))
    {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        return QStringLiteral("%1.%2.%3@example.com").arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()), tag).toLower();
    }

    // The item's stored bytes, read past every cache and wrapper.
    QByteArray stored(const QString &service, const QString &account, TDWKeyringStatus *status = nullptr) const
    {
        QByteArray secret;
        const TDWKeyringStatus found = real->find(service, account, &secret, nullptr);
        if (status)
            *status = found;
        return found == TDWKeyringStatus::Found ? secret : QByteArray();
    }

    std::shared_ptr<TDWKeyringBackend> real;
    std::shared_ptr<ScriptedKeyring> scripted;
};
