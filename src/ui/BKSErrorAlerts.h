#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

class QMessageBox;
class QWidget;

// The alerts that show an error's message to the user.
class BKSErrorAlerts
{
public:
    // An alert with an OK button that shows the error's localized description
    // as plain text.
    static QMessageBox *alertForError(const TDWError &error, QWidget *parent = nullptr);

    // Shows the message application-modally; on the main thread, returns once
    // the user has dismissed it. From another thread it hands the alert to the
    // main thread and returns at once.
    static void showError(const QString &message);
    // Shows the message as a window-modal sheet on `window` and returns at once.
    static void showError(const QString &message, QWidget *window);
};
