#include "ui/TDWAppIconDrawing.h"

#include "ui/TDWStatusIconDrawing.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QTransform>

namespace {

// The icon's own units: a 24 by 24 square, origin top-left, y downwards.
constexpr qreal Side = 24;
const QRectF Tile(1, 1, 22, 22);
constexpr qreal TileRadius = 5;
const QColor TileColor(0x2f, 0x6f, 0xb3);
const QColor ShapeColor(Qt::white);
// The status icon's point space (origin bottom-left, y upwards) placed with
// the cloud in the middle of the tile.
const QTransform ShapePlacement(1, 0, 0, -1, 3, 20.3);

QList<QPainterPath> shapes()
{
    return {TDWStatusIconDrawing::cloudShape(), TDWStatusIconDrawing::inProgressShape()};
}

QString number(qreal value)
{
    return QString::number(value, 'g', 6);
}

// The path as SVG path data; a fill closes each subpath by itself.
QString pathData(const QPainterPath &path)
{
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        switch (element.type) {
        case QPainterPath::MoveToElement:
            parts << QStringLiteral("M%1 %2").arg(number(element.x), number(element.y));
            break;
        case QPainterPath::LineToElement:
            parts << QStringLiteral("L%1 %2").arg(number(element.x), number(element.y));
            break;
        case QPainterPath::CurveToElement: {
            const QPainterPath::Element second = path.elementAt(i + 1);
            const QPainterPath::Element end = path.elementAt(i + 2);
            parts << QStringLiteral("C%1 %2 %3 %4 %5 %6")
                         .arg(number(element.x), number(element.y), number(second.x), number(second.y), number(end.x), number(end.y));
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement: // consumed with its curve
            break;
        }
    }
    return parts.join(u' ');
}

} // namespace

QImage TDWAppIconDrawing::image(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / Side, pixels / Side);
    painter.setPen(Qt::NoPen);
    painter.setBrush(TileColor);
    painter.drawRoundedRect(Tile, TileRadius, TileRadius);
    painter.setTransform(ShapePlacement, true);
    for (const QPainterPath &shape : shapes())
        painter.fillPath(shape, ShapeColor);
    return image;
}

QByteArray TDWAppIconDrawing::svg()
{
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                       .arg(number(Side));
    text += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n")
                .arg(number(Tile.x()), number(Tile.y()), number(Tile.width()), number(Tile.height()), number(TileRadius), TileColor.name());
    const QTransform &m = ShapePlacement;
    text += QStringLiteral("  <g transform=\"matrix(%1 %2 %3 %4 %5 %6)\" fill=\"%7\">\n")
                .arg(number(m.m11()), number(m.m12()), number(m.m21()), number(m.m22()), number(m.dx()), number(m.dy()), ShapeColor.name());
    for (const QPainterPath &shape : shapes()) {
        const QString rule = shape.fillRule() == Qt::WindingFill ? QStringLiteral("nonzero") : QStringLiteral("evenodd");
        text += QStringLiteral("    <path fill-rule=\"%1\" d=\"%2\"/>\n").arg(rule, pathData(shape));
    }
    text += QStringLiteral("  </g>\n</svg>\n");
    return text.toUtf8();
}
