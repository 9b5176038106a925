// Writes the installed icons from the logo the windows draw: PNG files at the usual sizes and
// one SVG, in the folder layout of the hicolor icon theme.
//   quillner-make-icons OUTPUT_FOLDER

#include "gui/app/window_look.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: quillner-make-icons OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        const QString path = output.filePath(folder + QStringLiteral("/quillner.png"));
        if (!output.mkpath(folder) || !quillner::logoImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QString folder = QStringLiteral("hicolor/scalable/apps");
    QFile svg(output.filePath(folder + QStringLiteral("/quillner.svg")));
    if (!output.mkpath(folder) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(quillner::logoSvg(256)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}
