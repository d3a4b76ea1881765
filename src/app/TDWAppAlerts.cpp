#include "app/TDWAppAlerts.h"

#include "ui/BKSErrorAlerts.h"

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>

namespace {

// The "do not ask again" box, in the small size of a secondary control.
QCheckBox *suppressionCheckBox(QMessageBox &alert)
{
    auto *box = new QCheckBox(QCoreApplication::translate("TDWAppAlerts", "Do not ask again"));
    QFont font = box->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    box->setFont(font);
    alert.setCheckBox(box);
    return box;
}

void prepare(QMessageBox &alert, const QString &message, const QString &informativeText)
{
    alert.setIcon(QMessageBox::Question);
    alert.setWindowTitle(QStringLiteral("Tidewell"));
    alert.setText(message);
    alert.setInformativeText(informativeText);
    alert.setWindowModality(Qt::ApplicationModal);
}

} // namespace

TDWAppPrompts::QuitAnswer TDWAppAlerts::askToQuit(bool offerStartAtLogin)
{
    QMessageBox alert;
    prepare(alert, QCoreApplication::translate("TDWAppAlerts", "Quit Tidewell?"),
            QCoreApplication::translate("TDWAppAlerts", "Tidewell only backs up your data when it is running."));
    QPushButton *quit = alert.addButton(QCoreApplication::translate("TDWAppAlerts", "Quit"), QMessageBox::AcceptRole);
    QPushButton *dontQuit = alert.addButton(QCoreApplication::translate("TDWAppAlerts", "Don't Quit"), QMessageBox::RejectRole);
    QPushButton *startAtLogin = nullptr;
    if (offerStartAtLogin)
        startAtLogin = alert.addButton(QCoreApplication::translate("TDWAppAlerts", "Quit, but Start Tidewell at Login"), QMessageBox::ActionRole);
    alert.setDefaultButton(quit);
    // Escape means "do not": it never quits or adds a login item.
    alert.setEscapeButton(dontQuit);
    QCheckBox *suppress = suppressionCheckBox(alert);
    alert.exec();

    QuitAnswer answer;
    if (alert.clickedButton() == quit) {
        answer.choice = QuitChoice::Quit;
        answer.suppress = suppress->isChecked();
    } else if (startAtLogin && alert.clickedButton() == startAtLogin) {
        answer.choice = QuitChoice::QuitAndStartAtLogin;
    }
    return answer;
}

TDWAppPrompts::StartAtLoginAnswer TDWAppAlerts::askToStartAtLogin()
{
    QMessageBox alert;
    prepare(alert, QCoreApplication::translate("TDWAppAlerts", "Start Tidewell at Login?"),
            QCoreApplication::translate("TDWAppAlerts",
                                        "Tidewell only backs up your data when it is running.  Do you want Tidewell to start automatically upon login?"));
    QPushButton *noThanks = alert.addButton(QCoreApplication::translate("TDWAppAlerts", "No thanks"), QMessageBox::RejectRole);
    QPushButton *startAtLogin = alert.addButton(QCoreApplication::translate("TDWAppAlerts", "Start Tidewell at Login"), QMessageBox::AcceptRole);
    alert.setDefaultButton(noThanks);
    alert.setEscapeButton(noThanks);
    QCheckBox *suppress = suppressionCheckBox(alert);
    alert.exec();

    StartAtLoginAnswer answer;
    if (alert.clickedButton() == startAtLogin)
        answer.choice = StartAtLoginChoice::StartAtLogin;
    else
        answer.suppress = suppress->isChecked();
    return answer;
}

void TDWAppAlerts::showError(const QString &message)
{
    BKSErrorAlerts::showError(message);
}
