#include "ui/TDWHyperlinkButton.h"

#include <QDesktopServices>
#include <QUrl>

TDWHyperlinkButton::TDWHyperlinkButton(const QString &title, const QString &url, QWidget *parent)
    : QPushButton(title, parent)
    , m_url(url)
{
    setFlat(true);
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    QFont linkFont = font();
    linkFont.setUnderline(true);
    setFont(linkFont);
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::ButtonText, QColor::fromRgbF(0.1f, 0.1f, 1.0f, 1.0f));
    setPalette(linkPalette);
    setCursor(Qt::PointingHandCursor);
    adjustSize();
    connect(this, &QPushButton::clicked, this, &TDWHyperlinkButton::openURL);
}

void TDWHyperlinkButton::openURL()
{
    QDesktopServices::openUrl(QUrl(m_url));
}
