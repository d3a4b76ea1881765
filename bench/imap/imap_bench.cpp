// IMAP benchmark against the Dovecot peer (tools/imap-peer): lists UID, flags
// and size of every message of "[Gmail]/All Mail", downloads every message to
// its own file (flushed to disk, as a backup must), and runs mbsync's cold sync
// of the same folder for comparison. Prints median times of several runs, the
// ratio to mbsync and peak memory. See bench/README.md.
#include "platform/imap/TDWImapSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <sys/resource.h>

namespace {

const QString AllMail = QStringLiteral("[Gmail]/All Mail");

struct Options
{
    QString root = QStringLiteral("/tmp/tdw-imap-bench");
    int messages = 20000;
    int connections = 4;
    int depth = 16;
    int window = 256;
    int runs = 3;
    bool mbsync = true;
    bool keep = false;
};

[[noreturn]] void die(const QString &text)
{
    std::fprintf(stderr, "bench_imap: %s\n", qPrintable(text));
    std::exit(1);
}

QString peerScript(const QString &name)
{
    return QStringLiteral(TDW_SOURCE_ROOT_DIR "/tools/imap-peer/") + name;
}

QString run(const QString &program, const QStringList &arguments, int timeoutMs = 3600000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0)
        die(QStringLiteral("%1 %2 failed").arg(program, arguments.join(u' ')));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QMap<QString, QString> readPorts(const QString &root)
{
    QMap<QString, QString> values;
    QFile file(root + QStringLiteral("/ports"));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    return values;
}

bool peerRunning(const QMap<QString, QString> &ports)
{
    if (!ports.contains(QStringLiteral("IMAPS_PORT")))
        return false;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(ports.value(QStringLiteral("IMAPS_PORT")).toUInt()));
    return socket.waitForConnected(1000);
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::shared_ptr<TDWImapSession> makeSession(const QMap<QString, QString> &ports, const Options &options)
{
    auto session = TDWImapSession::create();
    session->setHostname(QStringLiteral("127.0.0.1"));
    session->setPort(ports.value(QStringLiteral("IMAPS_PORT")).toInt());
    session->setUsername(ports.value(QStringLiteral("IMAP_USER")));
    session->setOAuth2Token(ports.value(QStringLiteral("IMAP_TOKEN")));
    session->setCertificateAuthorityFile(ports.value(QStringLiteral("CA_CERT")));
    session->setMaximumConnections(options.connections);
    session->setPipelineDepth(options.depth);
    return session;
}

// UID, flags and size of every message, with one FETCH on one connection.
QList<TDWImapMessage> listAll(const std::shared_ptr<TDWImapSession> &session, double *seconds)
{
    QElapsedTimer timer;
    timer.start();
    TDWError error;
    const TDWImapFolderInfo info = session->folderInfoOperation(AllMail)->run(&error);
    if (!error.isNull())
        die(error.description());
    const QList<TDWImapMessage> messages = session->fetchMessagesByNumberOperation(
        AllMail, TDWImapMessagesRequestKindFlags | TDWImapMessagesRequestKindSize, TDWImapIndexSet::fromRange(1, quint32(info.messageCount)))->run(&error);
    if (!error.isNull())
        die(error.description());
    *seconds = timer.elapsed() / 1000.0;
    if (messages.size() != info.messageCount)
        die(QStringLiteral("listed %1 of %2 messages").arg(messages.size()).arg(info.messageCount));
    return messages;
}

// Every message to its own file, at most `window` requests outstanding; completions on the main thread.
double downloadAll(const std::shared_ptr<TDWImapSession> &session, const QList<TDWImapMessage> &messages, const QString &dir, int window)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    run(QStringLiteral("sync"), {});
    QElapsedTimer timer;
    timer.start();
    qsizetype next = 0;
    qsizetype done = 0;
    qint64 bytes = 0;
    int outstanding = 0;
    std::function<void()> startMore = [&] {
        while (outstanding < window && next < messages.size()) {
            const TDWImapMessage &m = messages[next++];
            auto op = session->fetchMessageByUIDToFileOperation(AllMail, m.uid, dir + QStringLiteral("/%1.eml").arg(m.uid));
            ++outstanding;
            op->start([&, expected = m.size, uid = m.uid](const TDWError &error, qint64 size) {
                if (!error.isNull() || size != expected)
                    die(QStringLiteral("UID %1: %2 (%3 of %4 bytes)").arg(uid).arg(error.description()).arg(size).arg(expected));
                bytes += size;
                ++done;
                --outstanding;
                startMore();
            });
        }
    };
    startMore();
    while (done < messages.size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = timer.elapsed() / 1000.0;
    std::printf("  ours: %lld messages, %.1f MB in %.2f s (%d connections, pipeline %d)\n", qlonglong(done), bytes / 1e6, seconds,
                session->maximumConnections(), session->pipelineDepth());
    std::fflush(stdout);
    return seconds;
}

double mbsyncCold(const QString &root, long *rssKb)
{
    const QString out = run(peerScript(QStringLiteral("comparators/run.sh")), {root, QStringLiteral("mbsync"), QStringLiteral("cold")});
    const QString line = out.trimmed().split(u'\n').last();
    std::printf("  %s\n", qPrintable(line));
    std::fflush(stdout);
    double wall = 0;
    for (const QString &field : line.split(u' ')) {
        if (field.startsWith(QStringLiteral("wall=")))
            wall = field.mid(5).toDouble();
        if (field.startsWith(QStringLiteral("rss_kb=")))
            *rssKb = field.mid(7).toLong();
    }
    return wall;
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
        else if (a == QStringLiteral("--connections")) o.connections = value().toInt();
        else if (a == QStringLiteral("--depth")) o.depth = value().toInt();
        else if (a == QStringLiteral("--window")) o.window = value().toInt();
        else if (a == QStringLiteral("--runs")) o.runs = value().toInt();
        else if (a == QStringLiteral("--no-mbsync")) o.mbsync = false;
        else if (a == QStringLiteral("--keep")) o.keep = true;
        else die(QStringLiteral("unknown argument %1 (see bench/README.md)").arg(a));
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parse(app.arguments());

    QMap<QString, QString> ports = readPorts(options.root);
    const bool started = !peerRunning(ports);
    if (started) {
        std::printf("starting the Dovecot peer in %s (%d messages; generated once, kept for later runs)\n", qPrintable(options.root), options.messages);
        std::fflush(stdout);
        run(peerScript(QStringLiteral("dovecot/start.sh")), {options.root, QStringLiteral("--messages"), QString::number(options.messages)});
        ports = readPorts(options.root);
    }

    auto session = makeSession(ports, options);
    double listSeconds = 0;
    const QList<TDWImapMessage> messages = listAll(session, &listSeconds);
    qint64 total = 0;
    for (const TDWImapMessage &m : messages)
        total += m.size;
    std::printf("[Gmail]/All Mail: %lld messages, %.1f MB\n", qlonglong(messages.size()), total / 1e6);
    std::printf("list UID, FLAGS and RFC822.SIZE of all messages: %.3f s\n", listSeconds);
    const long rssAfterList = peakRssKb();

    std::vector<double> ours, theirs;
    long mbsyncRss = 0;
    for (int r = 1; r <= options.runs; ++r) {
        std::printf("run %d of %d\n", r, options.runs);
        // A new session each run: connections are opened within the timed part, as mbsync's are.
        ours.push_back(downloadAll(makeSession(ports, options), messages, options.root + QStringLiteral("/bench-out"), options.window));
        if (options.mbsync)
            theirs.push_back(mbsyncCold(options.root, &mbsyncRss));
    }
    QDir(options.root + QStringLiteral("/bench-out")).removeRecursively();
    session.reset();

    std::printf("\nbody download to files with fsync, median of %d runs:\n", options.runs);
    std::printf("  ours   %.2f s, peak RSS %ld KB (%ld KB after the listing)\n", median(ours), peakRssKb(), rssAfterList);
    if (options.mbsync) {
        std::printf("  mbsync %.2f s, peak RSS %ld KB\n", median(theirs), mbsyncRss);
        std::printf("  ratio ours/mbsync %.2f\n", median(ours) / median(theirs));
    }
    if (started && !options.keep)
        run(peerScript(QStringLiteral("dovecot/stop.sh")), {options.root});
    return 0;
}
