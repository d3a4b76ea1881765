// The status icon against reference images kept in tests/ui/status_icons.
// They are regenerated only on purpose: run with TDW_WRITE_REFERENCE_IMAGES=1
// and look at the pictures before committing them.
#include "status/TDWStatusMgr.h"
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
