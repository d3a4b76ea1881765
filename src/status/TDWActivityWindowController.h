#pragma once

#include <QObject>

#include <memory>

class QWidget;

// The activity window: what the backups are doing. The application's delegate
// creates one on the first "Activity" command and keeps it for the run.
// The rows of the running backups are not part of this program yet.
class TDWActivityWindowController : public QObject
{
    Q_OBJECT

public:
    explicit TDWActivityWindowController(QObject *parent = nullptr);
    ~TDWActivityWindowController() override;

    void showWindow();
    QWidget *window() const { return m_window.get(); }

private:
    std::unique_ptr<QWidget> m_window;
};
