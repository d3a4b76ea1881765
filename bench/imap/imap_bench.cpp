// IMAP benchmark against the Dovecot peer (tools/imap-peer): lists UID, flags
// and size of every message of "[Gmail]/All Mail", downloads every message to
// its own file (flushed to disk, as a backup must), and runs mbsync's cold sync
// of the same folder for comparison. Prints median times of several runs, the
// ratio to mbsync and peak memory. With --fake, the fake Gmail server serves
// the same mailbox beside Dovecot and gets the same download and mbsync run,
// to show how close to Dovecot it serves. See bench/README.md.
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
    bool fake = false;
};

// A server the benchmark measures: its ports file's values and the folder
// the comparators work in.
struct Peer
{
    Peer(QString name, QString root, QMap<QString, QString> ports)
        : name(std::move(name))
        , root(std::move(root))
        , ports(std::move(ports))
    {
    }

    QString name;
    QString root;
    QMap<QString, QString> ports;
    QList<TDWImapMessage> messages; // its own listing: UIDs differ from server to server
    std::vector<double> ours;
    std::vector<double> mbsync;
    long mbsyncRss = 0;
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

// The fake Gmail server on the Dovecot peer's mail home, set up as a
// benchmark peer: no compression, a process per connection, the peer's
// ports file format. It ends with this program.
void startFake(QProcess &process, const QString &root)
{
    QDir().mkpath(root + QStringLiteral("/fake"));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("python3"),
                  {QStringLiteral(TDW_SOURCE_ROOT_DIR "/tools/fake-imap/fake_gmail_imap.py"), QStringLiteral("--maildir"),
                   root + QStringLiteral("/mail/alice@example.com"), QStringLiteral("--no-compress"), QStringLiteral("--process-per-connection"),
                   QStringLiteral("--ports-file"), root + QStringLiteral("/fake/ports"), QStringLiteral("--exit-with-pid"),
                   QString::number(QCoreApplication::applicationPid())});
    if (!process.waitForReadyRead(120000))
        die(QStringLiteral("the fake Gmail server did not start"));
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

// User and system CPU seconds of this process so far (all its threads).
std::pair<double, double> cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
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
    QDir().mkpath(dir);
    run(QStringLiteral("sync"), {});
    const auto cpuBefore = cpuSeconds();
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
    const auto cpuAfter = cpuSeconds();
    std::printf("  ours: %lld messages, %.1f MB in %.2f s, CPU %.2f s user %.2f s sys (%d connections, pipeline %d)\n", qlonglong(done), bytes / 1e6,
                seconds, cpuAfter.first - cpuBefore.first, cpuAfter.second - cpuBefore.second, session->maximumConnections(), session->pipelineDepth());
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
        else if (a == QStringLiteral("--fake")) o.fake = true;
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

    std::vector<Peer> peers{{QStringLiteral("Dovecot"), options.root, ports}};
    QProcess fake;
    if (options.fake) {
        startFake(fake, options.root);
        peers.push_back({QStringLiteral("fake Gmail"), options.root + QStringLiteral("/fake"), readPorts(options.root + QStringLiteral("/fake"))});
    }

    for (Peer &peer : peers) {
        double listSeconds = 0;
        peer.messages = listAll(makeSession(peer.ports, options), &listSeconds);
        qint64 total = 0;
        for (const TDWImapMessage &m : peer.messages)
            total += m.size;
        std::printf("%s [Gmail]/All Mail: %lld messages, %.1f MB\n", qPrintable(peer.name), qlonglong(peer.messages.size()), total / 1e6);
        std::printf("list UID, FLAGS and RFC822.SIZE of all messages: %.3f s\n", listSeconds);
    }
    const long rssAfterList = peakRssKb();

    for (int r = 1; r <= options.runs; ++r) {
        std::printf("run %d of %d\n", r, options.runs);
        for (Peer &peer : peers) {
            std::printf(" %s\n", qPrintable(peer.name));
            // A new session each run: connections are opened within the timed part, as mbsync's are.
            // Each download to a folder of its own, all removed at the end: for a minute after
            // files are deleted, ext4 skips their inodes when it allocates new ones, which made
            // the download after another's removal slower than the one before it.
            const QString dir = options.root + QStringLiteral("/bench-out/%1-%2").arg(r).arg(&peer - peers.data());
            peer.ours.push_back(downloadAll(makeSession(peer.ports, options), peer.messages, dir, options.window));
            if (options.mbsync)
                peer.mbsync.push_back(mbsyncCold(peer.root, &peer.mbsyncRss));
        }
    }
    QDir(options.root + QStringLiteral("/bench-out")).removeRecursively();

    std::printf("\nbody download to files with fsync, median of %d runs:\n", options.runs);
    for (const Peer &peer : peers) {
        std::printf(" from %s\n", qPrintable(peer.name));
        std::printf("  ours   %.2f s, peak RSS %ld KB (%ld KB after the listing)\n", median(peer.ours), peakRssKb(), rssAfterList);
        if (options.mbsync) {
            std::printf("  mbsync %.2f s, peak RSS %ld KB\n", median(peer.mbsync), peer.mbsyncRss);
            std::printf("  ratio ours/mbsync %.2f\n", median(peer.ours) / median(peer.mbsync));
        }
    }
    if (peers.size() > 1) {
        std::printf("fake Gmail / Dovecot: ours %.2f", median(peers[1].ours) / median(peers[0].ours));
        if (options.mbsync)
            std::printf(", mbsync %.2f", median(peers[1].mbsync) / median(peers[0].mbsync));
        std::printf("\n");
    }
    if (fake.state() != QProcess::NotRunning) {
        fake.terminate();
        fake.waitForFinished(10000);
    }
    if (started && !options.keep)
        run(peerScript(QStringLiteral("dovecot/stop.sh")), {options.root});
    return 0;
}
