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

TDWDiagnosticWindowController::Found TDWDiagnosticWindowController::lookUpItem()
{
    Found found;
    const std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWPersistentStorePtr store = moc && storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, m_service) : nullptr;
    const TDWDoc::Ptr doc = store ? TDWDoc::byDocId(m_docId, store, *moc, nullptr) : nullptr;
    if (!doc)
        return found;
    m_docType = doc->docType();
    if (const TDWDocRev::Ptr latest = TDWDocRev::latestForDoc(doc, QDateTime(), *moc, nullptr)) {
        found.title = latest->title();
        found.json = latest->extensiblePropertyForKey(QStringLiteral("jsonDictionary"));
        found.revisionId = latest->objectID();
    }
    return found;
}

bool TDWDiagnosticWindowController::finishWhenMissing(const Found &found)
{
    if (!found.revisionId.isNull())
        return false;
    addOutputString(TDWItemDiagnostic::RevisionMissingMessage);
    done();
    return true;
}

void TDWDiagnosticWindowController::start()
{
    const Found found = lookUpItem();
    m_title = found.title;
    m_window->setWindowTitle(tr("Diagnostic Information for %1").arg(m_title));
    TDWWindowUtilities::centerFirstTime(m_window.get());
    m_textView->setRunning(true);
    addOutputString(QStringLiteral("Performing diagnostics on item \"%1\" for user \"%2\".\nItem ID: %3\nDate: %4 UTC, Type: %5")
                        .arg(m_title, m_accountUsername, m_docId, headerDate(TDWClock::now()), m_docType));
    if (found.json.isValid())
        addOutputString(QStringLiteral("Stored JSON data: %1")
                            .arg(QString::fromUtf8(QJsonDocument::fromVariant(found.json).toJson(QJsonDocument::Indented)).trimmed()));
    if (finishWhenMissing(found))
        return;
    m_tokenCheck->start(
        m_accountUsername, [this](const QString &) { startAfterAuthWork(); },
        [this](const QString &message) {
            addOutputString(message);
            done();
        });
}

void TDWDiagnosticWindowController::startAfterAuthWork()
{
    const Found found = lookUpItem();
    if (finishWhenMissing(found))
        return;
    const QString className = TDWServiceTable::shared().serviceConfig(m_service).diagnosticClass;
    m_diagnostic = TDWItemDiagnosticClasses::shared().create(className, found.revisionId, this);
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
