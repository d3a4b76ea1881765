// Reliability of the mail list step: a run stopped (SIGKILL) just before any
// one of its durable writes and started again ends with the same mail store as
// a run that was never stopped: nothing lost, no revision twice.
#include "MailKillFixture.h"

using namespace std::chrono_literals;

namespace {

const QString List = QStringLiteral("list");

class MailListKillTest : public MailKillFixture
{
protected:
    // Every kill point of the step of `days`, each from a copy of `before`
    // (an empty folder when null): killed, started again, compared.
    void killEverywhere(const QString &before, int days, int writes, const QString &expected)
    {
        for (int n = 1; n <= writes; ++n) {
            SCOPED_TRACE(testing::Message() << "killed before write " << n << " of " << writes);
            const QString dir = tdwtest::freshDir(QStringLiteral("killed"));
            if (!before.isNull())
                copyFolder(before, dir);
            ASSERT_TRUE(runStep(List, dir, days, n).killed);
            const Run again = runStep(List, dir, days, 0);
            ASSERT_FALSE(again.killed);
            EXPECT_EQ(again.exitCode, 0);
            EXPECT_EQ(difference(dump(dir), expected), QString());
            if (HasFailure())
                return;
        }
    }
};

TEST_F(MailListKillTest, AStepStoppedAtAnyWriteAndStartedAgainEndsAsIfNeverStopped)
{
    // Two batches of All Mail, so that kills land between them too.
    ASSERT_TRUE(startServer({{"generate", 1100}}));
    const QString reference = tdwtest::freshDir(QStringLiteral("reference"));
    const Run first = referenceRun(List, reference, 0);
    ASSERT_EQ(first.exitCode, 0);
    ASSERT_GT(first.writes, 4);
    const QString afterFirst = dump(reference);
    EXPECT_NE(afterFirst.count(QStringLiteral("rev|")), 0);
    EXPECT_FALSE(afterFirst.contains(QStringLiteral("two latest")));
    killEverywhere(QString(), 0, first.writes, afterFirst);

    const QString firstState = tdwtest::freshDir(QStringLiteral("first"));
    copyFolder(reference, firstState);
    // Between the runs: a flag, labels, a deletion mid-mailbox and an arrival.
    const QJsonArray listed = serverMessages();
    m_server.control({{"op", "flag"}, {"uid", listed.at(10).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"\\Flagged"}}});
    m_server.control({{"op", "label"}, {"uid", listed.at(20).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"Travel"}},
                      {"remove", QJsonArray{"Work"}}});
    m_server.control({{"op", "expunge"}, {"uid", listed.at(500).toObject().value(QStringLiteral("uid"))}});
    m_server.control({{"op", "add_message"}, {"raw", "From: a@example.org\r\nSubject: new\r\n\r\nx\r\n"}, {"labels", QJsonArray{"Travel"}}});
    const Run second = runStep(List, reference, 1, 0);
    ASSERT_EQ(second.exitCode, 0);
    const QString afterSecond = dump(reference);
    EXPECT_NE(afterSecond, afterFirst);
    EXPECT_FALSE(afterSecond.contains(QStringLiteral("two latest")));
    killEverywhere(firstState, 1, second.writes, afterSecond);
}

} // namespace
