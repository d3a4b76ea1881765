#include "ui/TDWStatusIconDrawing.h"

#include "status/TDWStatusMgr.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>

QPainterPath TDWStatusIconDrawing::cloudShape()
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    // Inner edge.
    path.moveTo(9.31, 13.78);
    path.cubicTo(10.52, 13.78, 11.06, 13.19, 11.72, 11.14);
    path.lineTo(12.13, 9.84);
    path.lineTo(13.25, 10.63);
    path.cubicTo(13.77, 11.01, 14.30, 11.23, 14.67, 11.23);
    path.cubicTo(15.23, 11.23, 15.77, 10.98, 16.19, 10.54);
    path.cubicTo(16.80, 9.88, 17.12, 8.88, 17.05, 7.79);
    path.cubicTo(16.93, 5.90, 15.61, 4.30, 14.17, 4.30);
    path.cubicTo(13.80, 4.30, 13.44, 4.40, 13.12, 4.61);
    path.lineTo(12.20, 5.19);
    path.lineTo(11.70, 4.22);
    path.cubicTo(11.35, 3.56, 10.74, 2.77, 9.81, 2.77);
    path.cubicTo(8.89, 2.77, 7.94, 3.56, 7.32, 4.84);
    path.lineTo(6.54, 6.44);
    path.lineTo(5.58, 4.95);
    path.cubicTo(5.13, 4.25, 4.51, 3.87, 3.83, 3.87);
    path.cubicTo(2.39, 3.87, 1.07, 5.59, 0.95, 7.62);
    path.cubicTo(0.88, 8.84, 1.22, 9.94, 1.88, 10.64);
    path.cubicTo(2.27, 11.05, 2.77, 11.27, 3.31, 11.27);
    path.cubicTo(3.97, 11.27, 4.63, 10.94, 5.13, 10.36);
    path.lineTo(6.41, 8.87);
    path.lineTo(6.86, 10.79);
    path.cubicTo(7.30, 12.66, 8.22, 13.78, 9.31, 13.78);
    path.closeSubpath();
    // Outer edge.
    path.moveTo(9.31, 14.78);
    path.cubicTo(7.70, 14.78, 6.44, 13.37, 5.89, 11.02);
    path.cubicTo(5.18, 11.84, 4.24, 12.27, 3.31, 12.27);
    path.cubicTo(2.53, 12.27, 1.76, 11.96, 1.15, 11.33);
    path.cubicTo(0.30, 10.42, -0.14, 9.05, -0.05, 7.56);
    path.cubicTo(0.10, 4.97, 1.84, 2.87, 3.83, 2.87);
    path.cubicTo(4.86, 2.87, 5.80, 3.44, 6.42, 4.41);
    path.cubicTo(7.21, 2.77, 8.47, 1.77, 9.81, 1.77);
    path.cubicTo(10.94, 1.77, 11.91, 2.47, 12.58, 3.76);
    path.cubicTo(13.06, 3.45, 13.60, 3.30, 14.17, 3.30);
    path.cubicTo(16.16, 3.30, 17.90, 5.29, 18.05, 7.73);
    path.cubicTo(18.13, 9.09, 17.72, 10.36, 16.92, 11.22);
    path.cubicTo(16.31, 11.87, 15.51, 12.23, 14.67, 12.23);
    path.cubicTo(14.00, 12.23, 13.26, 11.87, 12.67, 11.45);
    path.cubicTo(12.09, 13.24, 11.40, 14.78, 9.31, 14.78);
    path.lineTo(9.31, 14.78);
    path.closeSubpath();
    return path;
}

QPainterPath TDWStatusIconDrawing::exclamationShape()
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(11.08, 6.27);
    path.lineTo(8.17, 6.27);
    path.lineTo(8.17, 16.42);
    path.lineTo(11.08, 16.42);
    path.lineTo(11.08, 6.27);
    path.closeSubpath();
    path.moveTo(9.62, 4.16);
    path.cubicTo(8.61, 4.16, 7.78, 3.34, 7.78, 2.32);
    path.cubicTo(7.78, 1.31, 8.61, 0.48, 9.62, 0.48);
    path.cubicTo(10.64, 0.48, 11.46, 1.31, 11.46, 2.32);
    path.cubicTo(11.46, 3.34, 10.64, 4.16, 9.62, 4.16);
    path.closeSubpath();
    return path;
}

QPainterPath TDWStatusIconDrawing::inProgressShape()
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(9.92, 6.89);
    path.lineTo(9.92, 11.00);
    path.lineTo(8.92, 11.00);
    path.lineTo(8.92, 6.89);
    path.lineTo(6.16, 6.89);
    path.lineTo(9.42, 4.31);
    path.lineTo(12.69, 6.89);
    path.lineTo(9.92, 6.89);
    path.closeSubpath();
    return path;
}

QImage TDWStatusIconDrawing::getImageForStatus(qint32 globalStatus, double colorFloat, bool backupInProgress, qreal scale)
{
    QColor cloud = QColor::fromRgbF(float(colorFloat), float(colorFloat), float(colorFloat), 1.0f);
    if (!backupInProgress) {
        if (globalStatus == TDWStatusMgr::NothingEnabled)
            cloud.setAlphaF(0.4f);
        else if (globalStatus == TDWStatusMgr::NeedsAttention)
            cloud.setAlphaF(0.2f);
    }
    const QColor opaque = QColor::fromRgbF(float(colorFloat), float(colorFloat), float(colorFloat), 1.0f);

    const int pixels = qRound(SizeInPoints * scale);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Point space with the origin at the bottom-left corner, as the shapes are given.
    painter.translate(0, pixels);
    painter.scale(scale, -scale);
    drawCloudWithColor(painter, cloud);
    if (!backupInProgress && globalStatus == TDWStatusMgr::NeedsAttention)
        drawExclamationWithColor(painter, opaque);
    if (backupInProgress)
        drawInProgressWithColor(painter, opaque);
    return image;
}

void TDWStatusIconDrawing::drawCloudWithColor(QPainter &painter, const QColor &color)
{
    painter.fillPath(cloudShape(), color);
}

void TDWStatusIconDrawing::drawExclamationWithColor(QPainter &painter, const QColor &color)
{
    painter.fillPath(exclamationShape(), color);
}

void TDWStatusIconDrawing::drawInProgressWithColor(QPainter &painter, const QColor &color)
{
    painter.fillPath(inProgressShape(), color);
}
