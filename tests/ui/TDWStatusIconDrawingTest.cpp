// The status icon against reference images kept in tests/ui/status_icons
// (regenerated only on purpose: run with TDW_WRITE_REFERENCE_IMAGES=1 and look
// at the pictures before committing them), and the application icon drawn
// from its shapes.
#include "status/TDWStatusMgr.h"
#include "ui/TDWAppIconDrawing.h"
#include "ui/TDWStatusIconDrawing.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

namespace {

struct IconCase
{
    const char *file;
    qint32 globalStatus;
    bool backingUp;
    double grey;
};

const IconCase Cases[] = {
    {"nothing-enabled-black", TDWStatusMgr::NothingEnabled, false, 0.0},
    {"backed-up-black", TDWStatusMgr::AllBackedUp, false, 0.0},
    {"needs-attention-black", TDWStatusMgr::NeedsAttention, false, 0.0},
    {"backing-up-black", TDWStatusMgr::AllBackedUp, true, 0.0},
    {"nothing-enabled-white", TDWStatusMgr::NothingEnabled, false, 1.0},
    {"backed-up-white", TDWStatusMgr::AllBackedUp, false, 1.0},
    {"needs-attention-white", TDWStatusMgr::NeedsAttention, false, 1.0},
    {"backing-up-white", TDWStatusMgr::AllBackedUp, true, 1.0},
};

// Drawn at two pixels per point, as on most panels today.
constexpr qreal Scale = 2.0;

QString referencePath(const char *file)
{
    return QDir(qEnvironmentVariable("TDW_SOURCE_ROOT")).filePath(QStringLiteral("tests/ui/status_icons/%1.png").arg(QString::fromLatin1(file)));
}

QImage draw(qint32 globalStatus, bool backingUp, double grey)
{
    return TDWStatusIconDrawing::getImageForStatus(globalStatus, grey, backingUp, Scale).convertToFormat(QImage::Format_ARGB32);
}

// Largest difference of any channel of any pixel (antialiasing may differ by a step).
int maxDifference(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qAlpha(p) - qAlpha(q)), std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

TEST(TDWStatusIconDrawingTest, MatchesTheReferenceImages)
{
    const bool write = qEnvironmentVariableIsSet("TDW_WRITE_REFERENCE_IMAGES");
    for (const IconCase &row : Cases) {
        const QImage image = draw(row.globalStatus, row.backingUp, row.grey);
        ASSERT_EQ(image.size(), QSize(36, 36));
        if (write) {
            ASSERT_TRUE(image.save(referencePath(row.file)));
            continue;
        }
        const QImage reference = QImage(referencePath(row.file)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(reference.size(), image.size()) << row.file;
        EXPECT_LE(maxDifference(image, reference), 2) << row.file;
    }
}

// Alpha of the pixel at a point given in the drawing's own space (origin bottom-left).
int alphaAt(const QImage &image, double x, double y)
{
    return qAlpha(image.pixel(int(x * Scale), int((18.0 - y) * Scale)));
}

TEST(TDWStatusIconDrawingTest, ColoursAndShapesFollowTheStatus)
{
    // A point on the cloud's left rim, one inside the cloud (where the arrow goes)
    // and one above the cloud where only the exclamation mark's bar reaches.
    const double rimX = 0.3, rimY = 7.7, arrowX = 9.4, arrowY = 8.0, barX = 9.6, barY = 16.0;
    const QImage idleNothing = draw(TDWStatusMgr::NothingEnabled, false, 0.0);
    EXPECT_NEAR(alphaAt(idleNothing, rimX, rimY), 102, 3);
    EXPECT_EQ(alphaAt(idleNothing, barX, barY), 0);
    EXPECT_EQ(alphaAt(idleNothing, arrowX, arrowY), 0);

    const QImage attention = draw(TDWStatusMgr::NeedsAttention, false, 0.0);
    EXPECT_NEAR(alphaAt(attention, rimX, rimY), 51, 3);
    EXPECT_EQ(alphaAt(attention, barX, barY), 255);

    const QImage backedUp = draw(TDWStatusMgr::BackedUpMailAwaitingQuota, false, 0.0);
    EXPECT_EQ(backedUp, draw(TDWStatusMgr::AllBackedUp, false, 0.0));
    EXPECT_EQ(alphaAt(backedUp, rimX, rimY), 255);

    // While backing up, the full cloud and the arrow, whatever the status.
    const QImage busy = draw(TDWStatusMgr::AllBackedUp, true, 0.0);
    EXPECT_EQ(alphaAt(busy, arrowX, arrowY), 255);
    EXPECT_EQ(alphaAt(busy, barX, barY), 0);
    for (qint32 status : {0, 2, 3})
        EXPECT_EQ(draw(status, true, 0.0), busy) << status;

    // Grey level: black for light panels, white for dark ones.
    EXPECT_EQ(qRed(backedUp.pixel(int(rimX * Scale), int((18 - rimY) * Scale))), 0);
    const QImage white = draw(TDWStatusMgr::AllBackedUp, false, 1.0);
    EXPECT_EQ(qRed(white.pixel(int(rimX * Scale), int((18 - rimY) * Scale))), 255);
}

} // namespace

// The application icon: the status icon's cloud and arrow, white, inside a
// tile with transparent corners; the same shapes in its SVG document.
TEST(TDWAppIconDrawingTest, IsTheCloudAndArrowOnATile)
{
    constexpr int Pixels = 96;
    const QImage image = TDWAppIconDrawing::image(Pixels);
    ASSERT_EQ(image.size(), QSize(Pixels, Pixels));
    // Icon units (24 to the side) to pixels.
    const auto at = [&](qreal x, qreal y) { return image.pixelColor(int(x * Pixels / 24), int(y * Pixels / 24)); };
    for (const QColor corner : {at(0.2, 0.2), at(23.8, 0.2), at(0.2, 23.8), at(23.8, 23.8)})
        EXPECT_EQ(corner.alpha(), 0);
    const QColor tile = at(12, 3); // above the cloud
    EXPECT_EQ(tile.alpha(), 255);
    EXPECT_GT(tile.blue(), tile.red());
    for (const QColor white : {at(12.4, 11.5), at(12.4, 14.8)}) // the arrow's stem and head
        EXPECT_EQ(white, QColor(Qt::white));
    EXPECT_EQ(at(6.5, 12.8), tile); // inside the outline of the cloud, left of the arrow

    const QString svg = QString::fromUtf8(TDWAppIconDrawing::svg());
    EXPECT_TRUE(svg.contains(QStringLiteral("viewBox=\"0 0 24 24\""))) << svg.toStdString();
    EXPECT_EQ(svg.count(QStringLiteral("<path ")), 2);
    EXPECT_TRUE(svg.contains(QStringLiteral("d=\"M9.31 13.78 C10.52 13.78 11.06 13.19 11.72 11.14"))) << svg.toStdString();
}
