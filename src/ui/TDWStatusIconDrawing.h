#pragma once

#include <QImage>
#include <QtGlobal>

class QColor;
class QPainter;
class QPainterPath;

// The status-bar item's icon, drawn in code: a cloud, faint when nothing is
// set up, fainter with an exclamation mark when something needs attention,
// and with a downward arrow inside while a backup cycle runs. The shapes are
// filled paths on an 18 by 18 point square (origin bottom-left, y upwards).
class TDWStatusIconDrawing
{
public:
    static constexpr int SizeInPoints = 18;

    // globalStatus is TDWStatusMgr's global status (0 to 3); colorFloat the
    // grey level of every shape (0.0 black, 1.0 white); scale the device
    // pixels per point of the returned image.
    static QImage getImageForStatus(qint32 globalStatus, double colorFloat, bool backupInProgress, qreal scale = 1.0);

    // Fill one shape with the colour, in the point space set up by getImageForStatus().
    static void drawCloudWithColor(QPainter &painter, const QColor &color);
    static void drawExclamationWithColor(QPainter &painter, const QColor &color);
    static void drawInProgressWithColor(QPainter &painter, const QColor &color);

    // The shapes themselves, in that point space; the application icon is
    // drawn from them too.
    static QPainterPath cloudShape();
    static QPainterPath exclamationShape();
    static QPainterPath inProgressShape();
};
