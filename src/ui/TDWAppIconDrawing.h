#pragma once

#include <QByteArray>
#include <QImage>

// The application's icon, made from the status icon's shapes: the cloud with
// its downward arrow, white on a rounded blue tile. The same description is
// rendered as a square image of any size and written as an SVG document, so
// the icon theme's bitmaps and its scalable icon look alike.
class TDWAppIconDrawing
{
public:
    static QImage image(int pixels);
    static QByteArray svg();
};
