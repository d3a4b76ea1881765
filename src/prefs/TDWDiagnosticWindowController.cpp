#include "prefs/TDWDiagnosticWindowController.h"

#include "common/TDWServiceTable.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWClock.h"
#include "prefs/TDWDiagnosticReportView.h"
#include "prefs/TDWDiagnosticTokenCheck.h"
#include "prefs/TDWItemDiagnostic.h"
#include "ui/TDWWindowUtilities.h"

#include <QEvent>
#include <QJsonDocument>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

struct Item
{
    TDWDoc::Ptr doc;
    TDWDocRev::Ptr latest;
};

// The item and its latest revision, in `moc`; either may be null.
Item findItem(const QString &username, const QString &service, const QString &docId, TDWManagedObjectContext &moc)
{
    Item item;
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = storeMgr ? storeMgr->storeForAccountUsername(username, service) : nullptr;
    if (!store)
        return item;
    item.doc = TDWDoc::byDocId(docId, store, moc, nullptr);
    if (item.doc)
        item.latest = TDWDocRev::latestForDoc(item.doc, QDateTime(), moc, nullptr);
    return item;
}

} // namespace

TDWDiagnosticWindowController::TDWDiagnosticWindowController(const QString &accountUsername, const QString &docId, const QString &service,
                                                             QObject *parent)
    : QObject(parent)
    , m_accountUsername(accountUsername)
    , m_docId(docId)
    , m_service(service)
    , m_window(std::make_unique<QWidget>())
    , m_textView(new TDWDiagnosticReportView(m_window.get()))
    , m_progressIndicator(new QProgressBar(m_window.get()))
    , m_tokenCheck(new TDWDiagnosticTokenCheck(this))
{
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_textView);
    // A busy indicator: no known end.
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setTextVisible(false);
    layout->addWidget(m_progressIndicator);
    m_window->setObjectName(QStringLiteral("TDWDiagnosticWindow"));
    m_window->resize(760, 560);
    m_window->installEventFilter(this);
    start();
}

TDWDiagnosticWindowController::~TDWDiagnosticWindowController()
{
    // The diagnostic goes first: it may still hold work that writes here.
    m_diagnostic.reset();
    delete m_tokenCheck;
    m_tokenCheck = nullptr;
}

void TDWDiagnosticWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QString TDWDiagnosticWindowController::headerDate(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void TDWDiagnosticWindowController::start()
{
    bool found = false;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const Item item = moc ? findItem(m_accountUsername, m_service, m_docId, *moc) : Item();
        if (item.doc)
            m_docType = item.doc->docType();
        if (item.latest)
            m_title = item.latest->title();
        m_window->setWindowTitle(tr("Diagnostic Information for %1").arg(m_title));
        TDWWindowUtilities::centerFirstTime(m_window.get());
        m_textView->setRunning(true);
        addOutputString(QStringLiteral("Performing diagnostics on item \"%1\" for user \"%2\".\nItem ID: %3\nDate: %4 UTC, Type: %5")
                            .arg(m_title, m_accountUsername, m_docId, headerDate(TDWClock::now()), m_docType));
        if (item.latest) {
            const QVariant json = item.latest->extensiblePropertyForKey(QStringLiteral("jsonDictionary"));
            if (json.isValid())
                addOutputString(QStringLiteral("Stored JSON data: %1")
                                    .arg(QString::fromUtf8(QJsonDocument::fromVariant(json).toJson(QJsonDocument::Indented)).trimmed()));
            found = true;
        }
    }
    if (!found) {
        addOutputString(TDWItemDiagnostic::RevisionMissingMessage);
        done();
        return;
    }
    m_tokenCheck->start(
        m_accountUsername, [this](const QString &) { startAfterAuthWork(); },
        [this](const QString &message) {
            addOutputString(message);
            done();
        });
}

void TDWDiagnosticWindowController::startAfterAuthWork()
{
    const QString className = TDWServiceTable::shared().serviceConfig(m_service).diagnosticClass;
    TDWManagedObjectID revisionId;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        const Item item = moc ? findItem(m_accountUsername, m_service, m_docId, *moc) : Item();
        if (item.doc)
            m_docType = item.doc->docType();
        if (item.latest)
            revisionId = item.latest->objectID();
    }
    if (revisionId.isNull()) {
        addOutputString(TDWItemDiagnostic::RevisionMissingMessage);
        done();
        return;
    }
    m_diagnostic = TDWItemDiagnosticClasses::shared().create(className, revisionId, this);
    if (!m_diagnostic) {
        addOutputString(QStringLiteral("No diagnostic is available for this item."));
        done();
        return;
    }
    m_diagnostic->run();
}

void TDWDiagnosticWindowController::addOutputString(const QString &text)
{
    m_textView->addOutputString(text);
}

void TDWDiagnosticWindowController::done()
{
    m_finished = true;
    m_progressIndicator->hide();
    m_textView->setRunning(false);
}

bool TDWDiagnosticWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close)
        emit windowClosed(this);
    return QObject::eventFilter(watched, event);
}
