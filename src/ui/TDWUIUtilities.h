#pragma once

#include <QString>

class QLineEdit;

// Normalises the account address the user types.
class TDWUIUtilities
{
public:
    // Lower case, trimmed of white space and line breaks, with "@gmail.com"
    // added when there is no "@"; a text of blanks alone becomes empty.
    static QString fixedUsername(const QString &username);
    // Replaces a non-empty field's text with its fixed form.
    static void fixUsernameField(QLineEdit *field);
};
