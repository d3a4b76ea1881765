#pragma once

#include "app/TDWAppPrompts.h"

// The prompts as application-modal alerts.
class TDWAppAlerts : public TDWAppPrompts
{
public:
    QuitAnswer askToQuit(bool offerStartAtLogin) override;
    StartAtLoginAnswer askToStartAtLogin() override;
    void showError(const QString &message) override;
};
