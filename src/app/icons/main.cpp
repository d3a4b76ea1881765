// tidewell-icons: writes the application icon into an icon theme folder, as
// an SVG under scalable/apps and as PNG images of the sizes given. Run by the
// build, whose install copies the folder into share/icons/hicolor.
//
//   tidewell-icons THEME-FOLDER SIZE...
#include "loginitem/TDWLoginItemMgr.h"
#include "platform/foundation/TDWError.h"
#include "platform/foundation/TDWSafeFile.h"
#include "ui/TDWAppIconDrawing.h"

#include <QBuffer>
#include <QDir>
#include <QCoreApplication>
#include <QImage>

#include <cstdio>

namespace {

bool writeIcon(const QString &folder, const QString &fileName, const QByteArray &contents)
{
    TDWError error;
    if (QDir().mkpath(folder) && TDWSafeFile::write(QDir(folder).filePath(fileName), contents, &error))
        return true;
    std::fprintf(stderr, "tidewell-icons: cannot write %s in %s: %s\n", qPrintable(fileName), qPrintable(folder),
                 qPrintable(error.localizedDescription()));
    return false;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // painting into images needs no display
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: tidewell-icons THEME-FOLDER SIZE...\n");
        return 2;
    }
    const QDir theme(arguments.takeFirst());
    const QString fileName = TDWLoginItemMgr::ApplicationIcon;
    bool written = writeIcon(theme.filePath(QStringLiteral("scalable/apps")), fileName + QStringLiteral(".svg"), TDWAppIconDrawing::svg());
    for (const QString &argument : arguments) {
        bool isNumber = false;
        const int size = argument.toInt(&isNumber);
        if (!isNumber || size <= 0) {
            std::fprintf(stderr, "tidewell-icons: %s is not a size\n", qPrintable(argument));
            return 2;
        }
        const QString folder = theme.filePath(QStringLiteral("%1x%1/apps").arg(size));
        written = writeIcon(folder, fileName + QStringLiteral(".png"), png(TDWAppIconDrawing::image(size))) && written;
    }
    return written ? 0 : 1;
}
