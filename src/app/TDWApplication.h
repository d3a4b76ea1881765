#pragma once

#include <QApplication>

// The program's application object. An exception that a piece of work on the
// main thread lets escape (a command, a timer, a posted call) ends that piece
// of work only: it is logged with its name and reason, and the event loop
// goes on with the next event.
class TDWApplication : public QApplication
{
    Q_OBJECT

public:
    TDWApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
