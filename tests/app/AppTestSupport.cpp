#include "AppTestSupport.h"

#include "SchedulerTestSupport.h"
#include "TestSupport.h"
#include "common/TDWFileMgr.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWBlockOperation.h"
#include "platform/foundation/TDWUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QTcpSocket>
#include <QTest>

namespace apptest {

TDWAppPrompts::QuitAnswer ScriptedPrompts::askToQuit(bool offerStartAtLogin)
{
    m_log->asked.append(offerStartAtLogin ? QStringLiteral("quit+login") : QStringLiteral("quit"));
    return quitAnswers.isEmpty() ? QuitAnswer{} : quitAnswers.takeFirst();
}

TDWAppPrompts::StartAtLoginAnswer ScriptedPrompts::askToStartAtLogin()
{
    m_log->asked.append(QStringLiteral("startAtLogin"));
    return startAtLoginAnswers.isEmpty() ? StartAtLoginAnswer{} : startAtLoginAnswers.takeFirst();
}

void ScriptedPrompts::showError(const QString &message)
{
    m_log->errors.append(message);
}

RecordingHttpServer::RecordingHttpServer()
{
    if (!m_server.listen(QHostAddress::LocalHost))
        ADD_FAILURE() << "the test's HTTP server could not listen";
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

QString RecordingHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void RecordingHttpServer::serve(QTcpSocket *socket)
{
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received = QByteArray()]() mutable {
        received += socket->readAll();
        const qsizetype headerEnd = received.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray &line : received.left(headerEnd).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (received.size() < headerEnd + 4 + length)
            return;
        requests.append(received);
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    });
}

void AppFixture::SetUp()
{
    home = tdwtest::freshDir(QStringLiteral("home"));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("TDW_KEYRING", "file");
    // Whatever an earlier test in this process left behind.
    QDir(dataFolder()).removeRecursively();
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    for (const QString &key : defaults->dictionaryRepresentation().keys())
        defaults->removeObjectForKey(key);
    // Never the maker's real site: a port where nothing listens.
    defaults->setString(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("secureWebSiteURL"));
    defaults->synchronize();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWFileMgr::reset();
}

void AppFixture::TearDown()
{
    controller.reset();
    QCoreApplication::processEvents();
    TDWMasterStore::shared().setStoreMgr(nullptr);
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWFileMgr::reset();
}

TDWAppController &AppFixture::makeController()
{
    makeProgramController();
    controller->setBackupSchedulerEnvironment([this] {
        TDWBackupSchedulerEnvironment environment = TDWBackupSchedulerEnvironment::standard();
        environment.reachability = std::make_unique<schedtest::FakeReachability>(false);
        environment.sleepNotices = std::make_unique<TDWSleepNotices>();
        environment.makeBackupOperation = [this] {
            ++backupRunsMade;
            return std::make_shared<TDWBlockOperation>([] {});
        };
        environment.makeRuleUpdate = [this](const std::optional<QStringList> &, const QStringList &) {
            return std::make_shared<TDWBlockOperation>([this] { ++ruleUpdatesRun; });
        };
        return environment;
    });
    return *controller;
}

TDWAppController &AppFixture::makeProgramController()
{
    auto scripted = std::make_unique<ScriptedPrompts>(prompted);
    prompts = scripted.get();
    controller = std::make_unique<TDWAppController>(std::move(scripted));
    // No monitor is installed beside the test program; tests that need one set it.
    controller->setMonitorProgram({});
    QObject::connect(controller.get(), &TDWAppController::stopped, [this](int code) { stops.append(code); });
    QObject::connect(controller.get(), &TDWAppController::startupFinished, [this] { startupFinished = true; });
    return *controller;
}

void AppFixture::launch()
{
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    waitFor([this] { return startupFinished || controller->firstTimeUserController() || !stops.isEmpty(); });
}

bool AppFixture::waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 30000);
}

void AppFixture::prepareReturningUser(const QStringList &usernames)
{
    {
        TDWMasterStore &master = TDWMasterStore::shared();
        auto coordinator = master.persistentStoreCoordinatorMigrating(false);
        ASSERT_TRUE(coordinator);
        master.setPersistentStoreCoordinator(coordinator);
        auto moc = master.newMoc();
        for (const QString &username : usernames)
            ASSERT_TRUE(TDWAccount::addAccountWithUsername(username, {}, 1, {QStringLiteral("mail")}, false, *moc));
    }
    TDWMasterStore::shared().setPersistentStoreCoordinator(nullptr);
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    for (const char *flag : {"firsttime", "firsttimev2", "firsttimev25", "doneoauth", "mail2", "gdriveall252"})
        defaults->setBool(true, QString::fromLatin1(flag));
    defaults->synchronize();
}

QString AppFixture::dataFolder() const
{
    return TDWFileMgr::defaultDataDir();
}

QAction *AppFixture::menuItem(const char *selector) const
{
    QList<QMenu *> menus = controller->appMenus()->menus();
    while (!menus.isEmpty()) {
        for (QAction *action : menus.takeFirst()->actions()) {
            if (action->objectName() == QLatin1String(selector))
                return action;
            if (action->menu())
                menus.append(action->menu());
        }
    }
    return nullptr;
}

} // namespace apptest
