#include "ui/TDWSheetButtons.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>

TDWSheetButtons::TDWSheetButtons()
    : box(new QDialogButtonBox)
{
    continueButton = box->addButton(QCoreApplication::translate("TDWSheetButtons", "Continue"), QDialogButtonBox::AcceptRole);
    continueButton->setObjectName(QStringLiteral("continue"));
    continueButton->setDefault(true);
    backButton = box->addButton(QCoreApplication::translate("TDWSheetButtons", "Back"), QDialogButtonBox::ResetRole);
    backButton->setObjectName(QStringLiteral("back"));
    cancelButton = box->addButton(QDialogButtonBox::Cancel);
    cancelButton->setObjectName(QStringLiteral("cancel"));
}
