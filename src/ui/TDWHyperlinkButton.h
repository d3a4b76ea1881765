#pragma once

#include <QPushButton>
#include <QString>

// A button that looks and acts like a link on a web page: underlined blue
// text without a border, a pointing hand over it, and a click that opens its
// address in the user's default application for it.
class TDWHyperlinkButton : public QPushButton
{
    Q_OBJECT

public:
    TDWHyperlinkButton(const QString &title, const QString &url, QWidget *parent = nullptr);

    QString url() const { return m_url; }
    void openURL();

private:
    QString m_url;
};
