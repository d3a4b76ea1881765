#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class QLabel;
class QWidget;

// The post-upgrade notes window, shown once to a returning user after an
// upgrade: what changed, and which accounts lost their sign-in when stored
// passwords were converted and must be signed in again. Done marks the notes
// as read ("firsttimev2", "firsttimev25"), forgets "oauthMigrationResult" and
// closes the window; closing it otherwise shows it again at the next start.
class TDWFirstTimeV25WindowController : public QObject
{
    Q_OBJECT

public:
    // Every account after the conversion, and those whose conversion failed.
    TDWFirstTimeV25WindowController(const QStringList &allUsernames, const QStringList &failedUsernames, QObject *parent = nullptr);
    ~TDWFirstTimeV25WindowController() override;

    const QStringList &allUsernames() const { return m_allUsernames; }
    const QStringList &failedUsernames() const { return m_failedUsernames; }

    void showWindow();
    // The Done button.
    void done();

    QWidget *window() const { return m_window.get(); }
    QString notesText() const;

signals:
    // Done: the window is closed and its controller may go.
    void finished();

private:
    QString failedAccountsText() const;

    const QStringList m_allUsernames;
    const QStringList m_failedUsernames;
    std::unique_ptr<QWidget> m_window;
    QLabel *m_notes = nullptr;
};
