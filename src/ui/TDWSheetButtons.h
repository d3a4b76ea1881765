#pragma once

#include <QDialogButtonBox>
#include <QPushButton>

// The button row that the account sheet's steps share: Continue (the default
// button), Back and Cancel, named "continue", "back" and "cancel". The box
// belongs to whichever layout takes it.
class TDWSheetButtons
{
public:
    TDWSheetButtons();

    QDialogButtonBox *box = nullptr;
    QPushButton *continueButton = nullptr;
    QPushButton *backButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
