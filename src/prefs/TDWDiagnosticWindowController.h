#pragma once

#include "platform/store/TDWManagedObjectID.h"
#include "prefs/TDWItemDiagnosticReport.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

class QProgressBar;
class QWidget;
class TDWDiagnosticReportView;
class TDWDiagnosticTokenCheck;
class TDWItemDiagnostic;

// The item diagnostics window: for one backed-up item, a header, the JSON
// stored with its latest revision, and then what the diagnostic class that
// the service table names for its service ("diagnosticClass") finds. The
// report starts when the controller is made. Several windows, one per item,
// may run at once; closing one releases its diagnostic, which writes nothing
// more and ends what it still had running.
class TDWDiagnosticWindowController : public QObject, public TDWItemDiagnosticReport
{
    Q_OBJECT

public:
    TDWDiagnosticWindowController(const QString &accountUsername, const QString &docId, const QString &service, QObject *parent = nullptr);
    ~TDWDiagnosticWindowController() override;

    void showWindow();
    QWidget *window() const { return m_window.get(); }
    TDWDiagnosticReportView *textView() const { return m_textView; }
    bool isFinished() const { return m_finished; }

    void addOutputString(const QString &text) override;
    void done() override;

    // The date form of the report's header, always in UTC.
    static QString headerDate(const QDateTime &date);

signals:
    // The window was closed: its owner lets the controller go.
    void windowClosed(TDWDiagnosticWindowController *controller);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the store holds of the item now.
    struct Found
    {
        QString title;
        QVariant json;
        TDWManagedObjectID revisionId; // null when the item or its latest revision is gone
    };

    // Reads the item and its latest revision in a context of its own, and keeps the item's type.
    Found lookUpItem();
    // Ends the report when the revision is gone; true then.
    bool finishWhenMissing(const Found &found);
    void start();
    void startAfterAuthWork();

    QString m_accountUsername;
    QString m_docId;
    QString m_service;
    QString m_title;
    QString m_docType;
    bool m_finished = false;
    std::unique_ptr<QWidget> m_window;
    TDWDiagnosticReportView *m_textView = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    TDWDiagnosticTokenCheck *m_tokenCheck = nullptr;
    std::unique_ptr<TDWItemDiagnostic> m_diagnostic;
};
