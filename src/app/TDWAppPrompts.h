#pragma once

#include <QString>

// The questions and messages that start-up and quitting put to the user.
// The application asks them with alerts (TDWAppAlerts); tests answer them.
class TDWAppPrompts
{
public:
    enum class QuitChoice { Quit, DontQuit, QuitAndStartAtLogin };
    struct QuitAnswer
    {
        QuitChoice choice = QuitChoice::DontQuit;
        // "Don't ask again" was ticked.
        bool suppress = false;
    };

    enum class StartAtLoginChoice { NoThanks, StartAtLogin };
    struct StartAtLoginAnswer
    {
        StartAtLoginChoice choice = StartAtLoginChoice::NoThanks;
        bool suppress = false;
    };

    virtual ~TDWAppPrompts() = default;

    // "Quit Tidewell?"; the third choice only when offerStartAtLogin.
    virtual QuitAnswer askToQuit(bool offerStartAtLogin) = 0;
    // "Start Tidewell at Login?"
    virtual StartAtLoginAnswer askToStartAtLogin() = 0;
    // A message the user must acknowledge; returns once they have.
    virtual void showError(const QString &message) = 0;
};
