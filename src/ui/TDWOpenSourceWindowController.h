#pragma once

#include <QObject>

#include <memory>

class QTextBrowser;

// The open-source notices window: the resource "oss.html", read-only. Links
// open in the user's browser, so the page itself never changes. The
// application's delegate creates one on first use and keeps it for the run.
class TDWOpenSourceWindowController : public QObject
{
    Q_OBJECT

public:
    explicit TDWOpenSourceWindowController(QObject *parent = nullptr);
    ~TDWOpenSourceWindowController() override;

    void showWindow();
    QTextBrowser *window() const { return m_window.get(); }

private:
    std::unique_ptr<QTextBrowser> m_window;
};
