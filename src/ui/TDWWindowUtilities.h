#pragma once

class QWidget;

// Window and view helpers that several windows share.
class TDWWindowUtilities
{
public:
    // Centres the window on its screen the first time it is ever shown (the
    // user default "firsttimewindow_<name>", the name being the window's
    // object name, which stands for its saved-frame name); later it keeps
    // the place it was given. Windows without a name share one flag.
    static void centerFirstTime(QWidget *window);

    // Hides or shows the view; with fade, over half a second of changing
    // opacity, returning when it is done (a fade-out ends with the view hidden,
    // a fade-in makes it visible at once).
    static void setHiddenWithFade(QWidget *view, bool hidden, bool fade);
};
