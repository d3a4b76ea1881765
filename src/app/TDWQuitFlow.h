#pragma once

#include <QObject>

class TDWAppController;

// How the program quits: "Quit Tidewell?" (with the offer to start at login),
// the once-asked "Start Tidewell at Login?" for a quit the user did not ask
// for, then waiting for restores and tidying up before the application ends.
class TDWQuitFlow : public QObject
{
    Q_OBJECT

public:
    enum class TerminateReply { Now, Cancel };

    explicit TDWQuitFlow(TDWAppController &app);

    // The Quit command: asks unless the user said not to, or has not finished the first run.
    void quitConfirming();
    // Quits as the user asked, without a question.
    void quit();
    // Asks applicationShouldTerminate() and ends the application when it
    // answers Now; from any thread.
    void terminate();
    TerminateReply applicationShouldTerminate();
    // The coming quit is a restart: nothing is asked.
    void setRestartingTemp() { m_restartingTemp = true; }
    bool userSaidQuit() const { return m_userSaidQuit; }

signals:
    // Everything is done: the application ends now.
    void approved();

private:
    bool inLoginItems() const;
    void addToLoginItemsThenQuit();

    TDWAppController &m_app;
    bool m_userSaidQuit = false;
    bool m_restartingTemp = false;
    bool m_terminating = false; // inside terminate()
};
