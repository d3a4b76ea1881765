#include "StoreTestModel.h"

#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <sqlite3.h>

using namespace storetest;

namespace {

// Reads one store file with plain SQLite, as a later start would find it.
struct StoreState
{
    qint64 counter = 0;
    QMap<qint64, qint64> entriesPerBatch;
};

StoreState readState(const QString &path)
{
    StoreState state;
    const QString counter = sqliteShell(path, QStringLiteral("SELECT ifnull(max(value), 0) FROM Counter"));
    state.counter = counter.toLongLong();
    const QString batches = sqliteShell(path, QStringLiteral("SELECT batch || ' ' || count(*) FROM Entry GROUP BY batch"));
    for (const QString &line : batches.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        state.entriesPerBatch.insert(parts.value(0).toLongLong(), parts.value(1).toLongLong());
    }
    return state;
}

// A writer process killed (SIGKILL) at random moments of a stream of saves, again
// and again on the same files: every time the files open, pass SQLite's integrity
// check, and hold every save the writer had reported, each save whole or not at all.
TEST(StoreKill, KilledWriterLeavesHealthyStoresWithEverySaveItReported)
{
    const QString folder = tdwtest::freshDir(QStringLiteral("kill"));
    QRandomGenerator random(20240607);
    QList<qint64> reported{0, 0};
    auto takeLine = [&](const QByteArray &line) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3 || parts[0] != "saved")
            return false;
        reported = {parts[1].toLongLong(), parts[2].toLongLong()};
        return true;
    };
    for (int round = 0; round < 12; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::SeparateChannels);
        writer.start(QStringLiteral(TDW_STORE_KILL_WRITER), {folder});
        ASSERT_TRUE(writer.waitForStarted(10000));
        const int savesBeforeKill = 1 + int(random.bounded(12));
        int seen = 0;
        QByteArray pending;
        while (seen < savesBeforeKill) {
            ASSERT_TRUE(writer.waitForReadyRead(30000)) << writer.readAllStandardError().toStdString();
            pending += writer.readAllStandardOutput();
            qsizetype newline;
            while ((newline = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(newline);
                pending.remove(0, newline + 1);
                ASSERT_TRUE(takeLine(line)) << line.toStdString();
                ++seen;
            }
        }
        // Land the kill somewhere inside the next saves.
        QThread::usleep(random.bounded(15000));
        writer.kill();
        writer.waitForFinished(10000);
        pending += writer.readAllStandardOutput();
        for (const QByteArray &line : pending.split('\n'))
            takeLine(line);

        for (int store = 0; store < 2; ++store) {
            const char *name = store == 0 ? "one.sqlite3" : "two.sqlite3";
            const QString path = QDir(folder).filePath(QString::fromLatin1(name));
            ASSERT_EQ(sqliteShell(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok")) << name << " round " << round;
            const StoreState state = readState(path);
            // A save reported as done is there; the one running at the kill may be too.
            ASSERT_GE(state.counter, reported[store]) << name << " round " << round;
            ASSERT_LE(state.counter, reported[store] + 1) << name << " round " << round;
            for (auto it = state.entriesPerBatch.constBegin(); it != state.entriesPerBatch.constEnd(); ++it) {
                EXPECT_EQ(it.value(), 20) << name << " batch " << it.key() << " is partial";
                EXPECT_GT(it.key(), state.counter - 3) << name << " batch " << it.key() << " should have been deleted";
                EXPECT_LE(it.key(), state.counter) << name << " batch " << it.key() << " was written without its counter";
            }
            for (qint64 batch = std::max<qint64>(1, state.counter - 2); batch <= state.counter; ++batch)
                EXPECT_TRUE(state.entriesPerBatch.contains(batch)) << name << " batch " << batch << " is missing";
        }
    }
    EXPECT_GT(reported[0], 12);
}

} // namespace
