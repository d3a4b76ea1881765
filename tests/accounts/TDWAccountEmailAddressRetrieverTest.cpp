#include "accounts/TDWAccountEmailAddressRetriever.h"

#include "accounts/TDWAccountEmailAddressRetrieverDelegate.h"
#include "platform/json/TDWJsonReader.h"
#include "platform/foundation/TDWWorkerPool.h"

#include "FakeGoogleTest.h"
#include "TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Outcome
{
    QString kind; // "address", "error" or "authorization"
    QString text;
    TDWError::Scope scope = TDWError::Scope::Item; // of an error
};

class RecordingDelegate : public TDWAccountEmailAddressRetrieverDelegate
{
public:
    void emailAddressRetrieverEncounteredError(TDWAccountEmailAddressRetriever *, const TDWError &error) override
    {
        record({QStringLiteral("error"), error.localizedDescription(), error.scope()});
    }
    void emailAddressRetrieverReceivedEmailAddress(TDWAccountEmailAddressRetriever *, const QString &address) override
    {
        record({QStringLiteral("address"), address});
    }
    void emailAddressRetrieverEncounteredAuthorizationError(TDWAccountEmailAddressRetriever *) override
    {
        record({QStringLiteral("authorization"), {}});
    }

    std::vector<Outcome> outcomes;

private:
    void record(const Outcome &outcome) { outcomes.push_back(outcome); }
};

class TDWAccountEmailAddressRetrieverTest : public tdwtest::FakeGoogleTest
{
protected:
    static void SetUpTestSuite()
    {
        startFake(QJsonObject{
            {QStringLiteral("accounts"),
             QJsonArray{QJsonObject{{QStringLiteral("email"), QStringLiteral("Mixed.Case@Example.COM")},
                                    {QStringLiteral("access_token"), QStringLiteral("at-user")}}}}});
    }

    static Outcome retrieve(const QString &token)
    {
        RecordingDelegate delegate;
        TDWAccountEmailAddressRetriever retriever(token, &delegate);
        retriever.start();
        EXPECT_TRUE(delegate.outcomes.empty()); // never before start() returns
        EXPECT_TRUE(tdwtest::waitUntil([&] { return !delegate.outcomes.empty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.outcomes.size(), 1u);
        return delegate.outcomes.empty() ? Outcome{} : delegate.outcomes.front();
    }
};

TEST_F(TDWAccountEmailAddressRetrieverTest, AnswersAreTurnedIntoOneDelegateMessage)
{
    const QString missing = QStringLiteral("The response from Google did not include the account email address.");
    // An answer the JSON reader refuses is reported with the reader's reason.
    const auto refused = [](const QString &body) {
        TDWError error;
        EXPECT_FALSE(TDWJsonReader::parse(body.toUtf8(), &error));
        return QStringLiteral("Encountered error when validating the account: ") + error.localizedDescription();
    };
    const QString notJson = QStringLiteral("{not json");
    const QString tooDeep = QStringLiteral(R"({"data": {"email": "a@example.com"}, "x": %1})")
                                .arg(QString(TDWJsonReader::MaxDepth, u'[') + QString(TDWJsonReader::MaxDepth, u']'));
    const struct {
        QJsonObject fault; // empty: the fake's real answer
        const char *token;
        const char *kind;
        QString text;
    } cases[] = {
        {{}, "at-user", "address", QStringLiteral("mixed.case@example.com")},
        {{}, "not-a-token", "authorization", {}},
        {{{"status", 403}, {"reason", "insufficientPermissions"}}, "at-user", "authorization", {}},
        {{{"status", 503}}, "at-user", "error", QStringLiteral("Unexpected status code (503) when validating the account.")},
        {{{"status", 200}, {"body", QJsonObject{}}}, "at-user", "error", missing},
        {{{"status", 200}, {"body", QJsonObject{{"data", QJsonObject{}}}}}, "at-user", "error", missing},
        {{{"status", 200}, {"body", notJson}}, "at-user", "error", refused(notJson)},
        {{{"status", 200}, {"body", tooDeep}}, "at-user", "error", refused(tooDeep)},
        {{{"status", 200}, {"body", QJsonArray{1, 2}}},
         "at-user",
         "error",
         QStringLiteral("Encountered error when validating the account: The response is not a JSON object.")},
        {{{"status", 200}, {"body", QJsonObject{{"data", QStringLiteral("x")}}}},
         "at-user",
         "error",
         QStringLiteral("Encountered error when validating the account: The \"data\" value is not an object.")},
        {{{"status", 200}, {"body", QJsonObject{{"data", QJsonObject{{"email", 7}}}}}},
         "at-user",
         "error",
         QStringLiteral("Encountered error when validating the account: The \"email\" value is not a string.")},
    };
    for (const auto &c : cases) {
        if (!c.fault.isEmpty()) {
            QJsonObject fault = c.fault;
            fault[QStringLiteral("path")] = QStringLiteral("/userinfo/email");
            s_fake->addFault(fault);
        }
        const Outcome outcome = retrieve(QString::fromLatin1(c.token));
        EXPECT_EQ(outcome.kind, QLatin1String(c.kind)) << QJsonDocument(c.fault).toJson().toStdString();
        EXPECT_EQ(outcome.text, c.text) << QJsonDocument(c.fault).toJson().toStdString();
    }
}

TEST_F(TDWAccountEmailAddressRetrieverTest, AServerFailureReachesTheConnectionAndAnUnreadableAnswerOnlyTheRequest)
{
    for (const int status : {500, 503}) {
        s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")}, {QStringLiteral("status"), status}});
        EXPECT_EQ(retrieve(QStringLiteral("at-user")).scope, TDWError::Scope::Connection) << status;
    }
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")}, {QStringLiteral("status"), 204}});
    EXPECT_EQ(retrieve(QStringLiteral("at-user")).scope, TDWError::Scope::Request);
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")}, {QStringLiteral("body"), QStringLiteral("{not json")}});
    EXPECT_EQ(retrieve(QStringLiteral("at-user")).scope, TDWError::Scope::Request);
}

TEST_F(TDWAccountEmailAddressRetrieverTest, AConnectionFailureIsReportedWithItsDescription)
{
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")}, {QStringLiteral("drop"), true}});
    const Outcome outcome = retrieve(QStringLiteral("at-user"));
    EXPECT_EQ(outcome.kind, QStringLiteral("error"));
    EXPECT_TRUE(outcome.text.startsWith(QStringLiteral("Encountered error when validating the account: The network connection was lost.")))
        << outcome.text.toStdString();
}

TEST_F(TDWAccountEmailAddressRetrieverTest, DestroyingTheRetrieverEndsItsQuestionWithoutAMessage)
{
    s_fake->clearRequests();
    s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")}, {QStringLiteral("stall"), 60}});
    RecordingDelegate delegate;
    auto retriever = std::make_unique<TDWAccountEmailAddressRetriever>(QStringLiteral("at-user"), &delegate);
    retriever->start();
    ASSERT_TRUE(tdwtest::waitUntil([] { return s_fake->requestsTo(QStringLiteral("/userinfo/email")).size() == 1; }));
    retriever.reset();
    // The stalled exchange ends at once rather than after the server's minute.
    ASSERT_TRUE(TDWWorkerPool::shared().waitForDone(std::chrono::seconds(20)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(delegate.outcomes.empty());
}

TEST_F(TDWAccountEmailAddressRetrieverTest, TheTokenFollowsASameHostRedirectButNotOneToAnotherHost)
{
    const struct {
        const char *location;
        const char *kind;
        bool bearerOnSecondHop;
    } cases[] = {
        {"/userinfo/email?alt=json&hop=2", "address", true},
        {"https://www.google.com/userinfo/email?alt=json", "authorization", false},
        {"http://www.googleapis.com/userinfo/email?alt=json", "authorization", false},
    };
    for (const auto &c : cases) {
        s_fake->clearRequests();
        s_fake->addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/userinfo/email")},
                                     {QStringLiteral("status"), 302},
                                     {QStringLiteral("location"), QString::fromLatin1(c.location)}});
        EXPECT_EQ(retrieve(QStringLiteral("at-user")).kind, QLatin1String(c.kind)) << c.location;
        const QJsonArray log = s_fake->requestsTo(QStringLiteral("/userinfo/email"));
        ASSERT_EQ(log.size(), 2) << c.location;
        const auto authorization = [](const QJsonValue &entry) {
            return entry[QStringLiteral("headers")][QStringLiteral("authorization")].toString();
        };
        EXPECT_EQ(authorization(log[0]), QStringLiteral("Bearer at-user"));
        EXPECT_EQ(authorization(log[1]), c.bearerOnSecondHop ? QStringLiteral("Bearer at-user") : QString()) << c.location;
    }
}

} // namespace
