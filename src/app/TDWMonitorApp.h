#pragma once

#include <QObject>
#include <QString>

class QProcess;

// The companion monitor program, started beside the application when it is
// installed and ended at quit. Only the process started here is ever ended:
// another user's or another session's monitor is left alone.
class TDWMonitorApp : public QObject
{
    Q_OBJECT

public:
    // The monitor installed next to this program's executable.
    static QString defaultProgram();

    explicit TDWMonitorApp(QString program = defaultProgram(), QObject *parent = nullptr);
    ~TDWMonitorApp() override;

    // Starts the program unless it is not installed or already runs from
    // here; a failed start is logged and changes nothing else.
    void launch();
    // Asks the process started here to end, and waits a little for it.
    void quit();

    bool isRunning() const;
    qint64 processId() const;

private:
    const QString m_program;
    QProcess *m_process = nullptr;
};
