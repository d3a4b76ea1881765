#include "ui/TDWOpenSourceWindowController.h"

#include "platform/foundation/TDWResources.h"
#include "ui/TDWWindowUtilities.h"

#include <QDesktopServices>
#include <QFile>
#include <QTextBrowser>

TDWOpenSourceWindowController::TDWOpenSourceWindowController(QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QTextBrowser>())
{
    m_window->setObjectName(QStringLiteral("TDWOpenSourceWindow"));
    m_window->setWindowTitle(tr("Open Source Notices"));
    // Every link goes to the browser; the notices stay as they are.
    m_window->setOpenLinks(false);
    connect(m_window.get(), &QTextBrowser::anchorClicked, this, [](const QUrl &url) { QDesktopServices::openUrl(url); });
    m_window->setContextMenuPolicy(Qt::NoContextMenu);
    QFile notices(TDWResources::path(QStringLiteral("oss"), QStringLiteral("html")));
    if (notices.open(QIODevice::ReadOnly))
        m_window->setHtml(QString::fromUtf8(notices.readAll()));
    m_window->resize(600, 500);
    TDWWindowUtilities::centerFirstTime(m_window.get());
}

TDWOpenSourceWindowController::~TDWOpenSourceWindowController() = default;

void TDWOpenSourceWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
