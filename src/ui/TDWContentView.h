#pragma once

class QWidget;

// A window's content view, swapped as a sheet moves between its steps: each
// window shows one of its views at a time, filling it. The views stay owned
// by whoever made them; a view that is deleted simply leaves the window.
class TDWContentView
{
public:
    // Makes `view` the content of `window`, adding it the first time.
    static void set(QWidget *window, QWidget *view);
    // The view the window shows now, or null.
    static QWidget *current(const QWidget *window);
};
