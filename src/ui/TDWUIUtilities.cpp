#include "ui/TDWUIUtilities.h"

#include <QLineEdit>

namespace {

const QString GoogleMailDomain = QStringLiteral("gmail.com");

} // namespace

QString TDWUIUtilities::fixedUsername(const QString &username)
{
    QString fixed = username.toLower().trimmed();
    // Blanks alone are no address: "@gmail.com" would be taken for one.
    if (fixed.isEmpty())
        return fixed;
    if (!fixed.contains(QLatin1Char('@')))
        fixed += QLatin1Char('@') + GoogleMailDomain;
    return fixed;
}

void TDWUIUtilities::fixUsernameField(QLineEdit *field)
{
    if (!field->text().isEmpty())
        field->setText(fixedUsername(field->text()));
}
