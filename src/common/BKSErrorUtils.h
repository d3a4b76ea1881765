#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

class QMessageBox;
class QWidget;

// The program's two kinds of error value, and the alerts that show a message
// to the user. Callers compare no codes: the domains only tell the kinds apart.
class BKSErrorUtils
{
public:
    // An error handed back to a caller; its message is its whole content.
    static inline const QString SimpleErrorDomain = QStringLiteral("Brackenmoor Software");
    static constexpr qint64 SimpleErrorCode = 1000;
    // A message that is being shown to the user.
    static inline const QString ShownErrorDomain = QStringLiteral("deradavadezo");
    static constexpr qint64 ShownErrorCode = 0;

    // A null message gives an error without user-info entries; any other
    // message (empty too) becomes the localized description.
    static TDWError simpleError(const QString &message);
    // The error that `showError` presents, for sheets that callers build themselves.
    static TDWError shownError(const QString &message);

    // An alert with an OK button that shows the error's localized description.
    static QMessageBox *alertForError(const TDWError &error, QWidget *parent = nullptr);

    // Shows the message application-modally and returns once the user has
    // dismissed it.
    static void showError(const QString &message);
    // Shows the message as a window-modal sheet on `window` and returns at once.
    static void showError(const QString &message, QWidget *window);
};
