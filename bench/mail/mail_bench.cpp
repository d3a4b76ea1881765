// The mail backup of one account, end to end through the program's own
// registered TDWMailBackupOperation, against the fake Gmail server serving a
// generated mailbox, beside mbsync run against the same server: a cold
// backup, a warm one with no change, and a warm one after 1% of the messages
// changed flags. Each backup runs in a process of its own (this program again,
// with --backup), as each mbsync run does, so its peak memory is its own.
// Prints wall time, CPU time, peak memory and the ratios. See bench/README.md.
#include "accounts/TDWCredential.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWBackupOperationClasses.h"
#include "app/TDWRegisterClasses.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "mail/TDWImapConnectionMgr.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/imap/TDWImapSession.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWKeyring.h"
#include "status/TDWActivityMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>
#include <sys/resource.h>

namespace {

const QString Mail = QStringLiteral("mail");

struct Options
{
    QString root = QStringLiteral("/tmp/tdw-mail-bench");
    int messages = 20000;
    bool mbsync = true;
    // In the child: one backup run ("fresh" starts from empty stores).
    QString backup;
};

// What one backup run in a child process reports on its last line.
struct RunResult
{
    double wall = 0;
    double cpu = 0;
    long peakKb = 0;
    long baselineKb = 0;
    qlonglong backedUp = 0;
};

[[noreturn]] void die(const QString &text)
{
    std::fprintf(stderr, "bench_mail: %s\n", qPrintable(text));
    std::exit(1);
}

QString run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(3600000) || process.exitCode() != 0)
        die(QStringLiteral("%1 %2 failed").arg(program, arguments.join(u' ')));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QMap<QString, QString> readPorts(const QString &path)
{
    QMap<QString, QString> values;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    return values;
}

// "VmRSS" (now) or "VmHWM" (the peak) of this process, in KB.
long statusKb(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLong();
    return 0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The generated mailbox (made once per size) served by the fake as a benchmark peer.
QMap<QString, QString> startFake(QProcess &fake, const Options &options)
{
    const QString home = options.root + QStringLiteral("/home");
    if (!QDir(home + QStringLiteral("/main")).exists())
        std::printf("%s", qPrintable(run(QStringLiteral("python3"), {QStringLiteral(TDW_SOURCE_ROOT_DIR "/tools/imap-peer/gen_mailbox.py"), home,
                                                                       QString::number(options.messages)})));
    const QString ports = options.root + QStringLiteral("/ports");
    QFile::remove(ports);
    fake.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    fake.start(QStringLiteral("python3"), {QStringLiteral(TDW_SOURCE_ROOT_DIR "/tools/fake-imap/fake_gmail_imap.py"), QStringLiteral("--maildir"), home,
                                           QStringLiteral("--no-compress"), QStringLiteral("--process-per-connection"), QStringLiteral("--ports-file"),
                                           ports, QStringLiteral("--exit-with-pid"), QString::number(QCoreApplication::applicationPid())});
    if (!fake.waitForReadyRead(300000))
        die(QStringLiteral("the fake Gmail server did not start"));
    return readPorts(ports);
}

// The program's stores in a data folder of the benchmark's own, with one
// account whose mail is backed up from the fake; `fresh` starts them empty.
void setUpAccount(const QString &dataFolder, const QMap<QString, QString> &ports, bool fresh)
{
    if (fresh)
        QDir(dataFolder).removeRecursively();
    TDWFileMgr::reset();
    TDWFileMgr::initAltDataDir(dataFolder);
    TDWMasterStore &master = TDWMasterStore::shared();
    const auto coordinator = master.persistentStoreCoordinatorMigrating(false);
    if (!coordinator)
        die(QStringLiteral("cannot open the stores"));
    master.setPersistentStoreCoordinator(coordinator);
    master.setStoreMgr(TDWStoreMgr::initWithPersistentStoreCoordinator(coordinator, master.masterStore()));
    const QString user = ports.value(QStringLiteral("IMAP_USER"));
    auto moc = master.newMoc();
    if (fresh && !TDWAccount::addAccountWithUsername(user, QString(), 1, {Mail}, false, *moc))
        die(QStringLiteral("cannot add the account"));
    TDWKeyring::setBackend(std::make_shared<TDWFileKeyring>(dataFolder + QStringLiteral("/keyring")));
    auto credential = std::make_shared<TDWCredential>();
    credential->setRefreshToken(QStringLiteral("refresh"));
    credential->setAccessToken(ports.value(QStringLiteral("IMAP_TOKEN")));
    TDWKeychainMgr::keychainMgr()->setCredential(credential, user, true);
    qputenv("TDW_EXTRA_CA", ports.value(QStringLiteral("CA_CERT")).toUtf8());
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    defaults->setString(QStringLiteral("127.0.0.1:%1").arg(ports.value(QStringLiteral("IMAPS_PORT"))), QStringLiteral("Hostname"));
    // Every missing message in one run, as mbsync fetches them all.
    defaults->setString(QStringLiteral("fast"), QStringLiteral("ThrottleLevel"));
}

// One backup run of the account's mail; its wall time.
double backUp(const QString &user)
{
    QElapsedTimer timer;
    timer.start();
    {
        auto moc = TDWMasterStore::shared().newMoc();
        auto iteration = TDWBackupIteration::newWithMoc(*moc);
        iteration->setIterationStartTime(TDWClock::now());
        if (!moc->save(nullptr))
            die(QStringLiteral("cannot save the iteration"));
    }
    const std::shared_ptr<TDWOperation> operation = TDWBackupOperationClasses::shared().create(QStringLiteral("TDWMailBackupOperation"), user, Mail);
    // The main thread serves the IMAP sessions' events until the backup ends, and sleeps in between.
    QEventLoop loop;
    operation->setCompletionCallback([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    TDWOperationQueue queue;
    queue.addOperation(operation);
    loop.exec();
    queue.waitUntilAllOperationsAreFinished();
    const double seconds = timer.elapsed() / 1000.0;
    TDWImapConnectionMgr::imapSessionForUsername(user)->disconnectOperation()->run();
    return seconds;
}

qint64 backedUp()
{
    auto moc = TDWMasterStore::shared().newMoc();
    return TDWEntityFetch(*moc, QStringLiteral("DocRev")).where(QStringLiteral("latest = 1 and exportStatus = 3"), {}).count(nullptr);
}

double mbsync(const QString &root, const QString &mode, long *rssKb)
{
    const QString out = run(QStringLiteral(TDW_SOURCE_ROOT_DIR "/tools/imap-peer/comparators/run.sh"), {root, QStringLiteral("mbsync"), mode});
    const QString line = out.trimmed().split(u'\n').last();
    double wall = 0;
    for (const QString &field : line.split(u' ')) {
        if (field.startsWith(QStringLiteral("wall=")))
            wall = field.mid(5).toDouble();
        if (field.startsWith(QStringLiteral("rss_kb=")))
            *rssKb = field.mid(7).toLong();
    }
    return wall;
}

QJsonValue control(const QMap<QString, QString> &ports, const QJsonValue &requests)
{
    const QString answer = run(QStringLiteral("curl"), {QStringLiteral("-sf"), QStringLiteral("--data-binary"), QStringLiteral("@-"),
                                                        QStringLiteral("http://127.0.0.1:%1/").arg(ports.value(QStringLiteral("CONTROL_PORT")))},
                               QJsonDocument::fromVariant(requests.toVariant()).toJson(QJsonDocument::Compact));
    return QJsonDocument::fromJson(answer.toUtf8()).object().value(QStringLiteral("result"));
}

// Flags of one message in a hundred change on the server.
void changeFlags(const QMap<QString, QString> &ports)
{
    const QJsonArray messages = control(ports, QJsonObject{{"op", "messages"}}).toObject().value(QStringLiteral("messages")).toArray();
    QJsonArray requests;
    for (qsizetype i = 0; i < messages.size(); i += 100)
        requests.append(QJsonObject{{"op", "flag"}, {"uid", messages.at(i).toObject().value(QStringLiteral("uid"))}, {"add", QJsonArray{"\\Flagged"}}});
    control(ports, requests);
}

Options parse(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&] {
            if (i + 1 >= args.size())
                die(QStringLiteral("%1 needs a value").arg(a));
            return args[++i];
        };
        if (a == QStringLiteral("--root")) o.root = value();
        else if (a == QStringLiteral("--messages")) o.messages = value().toInt();
        else if (a == QStringLiteral("--no-mbsync")) o.mbsync = false;
        else if (a == QStringLiteral("--backup")) o.backup = value();
        else die(QStringLiteral("unknown argument %1 (see bench/README.md)").arg(a));
    }
    return o;
}

// The child: one backup run of the account, against the fake the parent started.
int backUpOnce(const Options &options)
{
    const QMap<QString, QString> ports = readPorts(options.root + QStringLiteral("/ports"));
    TDWRegisterClasses();
    TDWActivityMonitor monitor;
    TDWActivityMonitor::setShared(&monitor);
    setUpAccount(options.root + QStringLiteral("/data"), ports, options.backup == QStringLiteral("fresh"));
    const QString user = ports.value(QStringLiteral("IMAP_USER"));
    RunResult result;
    result.baselineKb = statusKb("VmRSS");
    const double cpuBefore = cpuSeconds();
    result.wall = backUp(user);
    result.cpu = cpuSeconds() - cpuBefore;
    result.peakKb = statusKb("VmHWM");
    result.backedUp = backedUp();
    TDWActivityMonitor::setShared(nullptr);
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    std::printf("\nresult %.3f %.3f %ld %ld %lld\n", result.wall, result.cpu, result.peakKb, result.baselineKb, result.backedUp);
    return 0;
}

RunResult backUpInChild(const Options &options, bool fresh)
{
    const QString out = run(QCoreApplication::applicationFilePath(),
                            {QStringLiteral("--root"), options.root, QStringLiteral("--backup"), fresh ? QStringLiteral("fresh") : QStringLiteral("again")});
    const QStringList fields = out.trimmed().split(u'\n').last().split(u' ');
    if (fields.size() != 6 || fields[0] != QStringLiteral("result"))
        die(QStringLiteral("the backup run reported no result"));
    return {fields[1].toDouble(), fields[2].toDouble(), fields[3].toLong(), fields[4].toLong(), fields[5].toLongLong()};
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("TIDEWELL_RESOURCES"))
        qputenv("TIDEWELL_RESOURCES", TDW_BENCH_RESOURCES);
    // The settings the runs write (host, throttle level) go to folders of the
    // benchmark's own, never to the user's; the backup runs inherit them.
    std::optional<QTemporaryDir> xdg;
    if (qEnvironmentVariableIsEmpty("TDW_BENCH_XDG")) {
        xdg.emplace(QDir::tempPath() + QStringLiteral("/tidewell-bench-mail-XXXXXX"));
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            qputenv(name, QFile::encodeName(xdg->filePath(QString::fromLatin1(name).toLower())));
        qputenv("TDW_BENCH_XDG", QFile::encodeName(xdg->path()));
    }
    QCoreApplication app(argc, argv);
    const Options options = parse(app.arguments());
    if (!options.backup.isEmpty())
        return backUpOnce(options);
    QProcess fake;
    const QMap<QString, QString> ports = startFake(fake, options);

    struct Phase
    {
        const char *name;
        QString mbsyncMode;
    };
    const Phase phases[] = {{"cold", QStringLiteral("cold")}, {"warm, no change", QStringLiteral("warm")}, {"warm, 1% flags changed", QStringLiteral("warm")}};
    std::printf("%d messages; mail backup vs mbsync on the fake Gmail server\n", options.messages);
    for (int i = 0; i < 3; ++i) {
        if (i == 2)
            changeFlags(ports);
        const RunResult ours = backUpInChild(options, i == 0);
        long theirRss = 0;
        const double theirs = options.mbsync ? mbsync(options.root, phases[i].mbsyncMode, &theirRss) : 0;
        std::printf("%-24s ours %7.2f s (CPU %.2f s), peak RSS %7ld KB (%ld KB before the run; %lld backed up)", phases[i].name, ours.wall,
                    ours.cpu, ours.peakKb, ours.baselineKb, ours.backedUp);
        if (options.mbsync)
            std::printf(" | mbsync %7.2f s, %7ld KB | ratio time %.2f, memory %.2f", theirs, theirRss, ours.wall / theirs,
                        double(ours.peakKb) / double(theirRss));
        std::printf("\n");
        std::fflush(stdout);
    }
    fake.terminate();
    fake.waitForFinished(10000);
    return 0;
}
