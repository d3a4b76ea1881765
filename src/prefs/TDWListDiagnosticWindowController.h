#pragma once

#include "platform/foundation/TDWAsyncOperation.h"
#include "services/TDWCurlPageFetch.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;
class QProgressBar;
class QPushButton;
class QWidget;
class TDWDiagnosticReportView;
class TDWDiagnosticTokenCheck;

// The list diagnostic window: the raw list pages of one service for one
// account, fetched by curl exactly as the service's list URLs give them and
// followed through their "next" links, each command and each answer (headers
// and body) written to a report the user reads and copies. The application's
// delegate creates one on first use and keeps it for the run.
//
// A page's body is read as XML only to find its "next" link, without the
// network and without expanding entities. The token goes with a page only to
// https Google hosts; every page is a curl run of its own.
class TDWListDiagnosticWindowController : public QObject
{
    Q_OBJECT

public:
    // Pages of one list URL followed at most, so that links in a circle end.
    static constexpr int MaxPages = 1000;
    // A page that takes longer fails.
    static constexpr std::chrono::seconds PageTimeout{120};

    explicit TDWListDiagnosticWindowController(QObject *parent = nullptr);
    ~TDWListDiagnosticWindowController() override;

    void showWindow();
    QWidget *window() const { return m_window.get(); }
    QComboBox *accountPopup() const { return m_accountPopup; }
    QComboBox *servicePopup() const { return m_servicePopup; }
    QPushButton *button() const { return m_button; }
    TDWDiagnosticReportView *textView() const { return m_textView; }

    // The button's action: starts a report of the chosen account and service.
    void handleRequestItemLists();

    void populateAccounts();
    void populateServices();

    // The "next" link of a list page as curl wrote it (headers, then the
    // body), read against the page's URL: the "href" of the last child
    // "link" of the root with rel "next". Empty when there is none; `notes`
    // gets what the report says about the page.
    static QString nextUrl(const QByteArray &page, const QString &pageUrl, QStringList *notes);

private:
    void startAfterAuthWork(const QString &accessToken);
    void startDownload(const QString &url);
    void curlDone(const QString &url, const TDWCurlPageFetch::Result &result);
    void nextListUrl();
    void addOutputString(const QString &text);
    void done();

    std::unique_ptr<QWidget> m_window;
    QComboBox *m_accountPopup = nullptr;
    QComboBox *m_servicePopup = nullptr;
    QPushButton *m_button = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    TDWDiagnosticReportView *m_textView = nullptr;
    TDWDiagnosticTokenCheck *m_tokenCheck = nullptr;
    QStringList m_serviceIds;
    QStringList m_listUrls;
    qsizetype m_listIndex = 0;
    int m_pages = 0;
    QByteArray m_accessToken;
    std::shared_ptr<TDWAsyncOperation<TDWCurlPageFetch::Result>> m_curl;
};
