#include "browser_support.h"

#include <QDir>
#include <QSet>
#include <QStandardPaths>

namespace quillner::testing {

QString chromiumProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

QStringList chromiumQuietFlags(const QString& profileDir)
{
    return {QStringLiteral("--no-sandbox"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--disable-quic"),
            QStringLiteral("--no-first-run"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--user-data-dir=") + profileDir};
}

qint64 PictureFacts::near(const QColor& colour) const
{
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                    std::abs(pixel.blue() - colour.blue()) <
                24)
                ++count;
        }
    }
    return count;
}

PictureFacts pictureFacts(const QImage& image)
{
    PictureFacts facts;
    facts.image = image.convertToFormat(QImage::Format_RGB32);
    if (facts.image.isNull())
        return facts;
    QSet<QRgb> colours;
    const QRgb background = facts.image.pixel(0, 0);
    qint64 other = 0;
    for (int y = 0; y < facts.image.height(); ++y) {
        for (int x = 0; x < facts.image.width(); ++x) {
            const QRgb pixel = facts.image.pixel(x, y);
            colours.insert(pixel);
            other += pixel != background ? 1 : 0;
        }
    }
    facts.colours = int(colours.size());
    facts.notBackground =
        double(other) / double(qint64(facts.image.width()) * facts.image.height());
    return facts;
}

QString artefactPath(const QString& name)
{
    QDir().mkpath(QStringLiteral(QUILLNER_ARTEFACTS_DIR));
    return QDir(QStringLiteral(QUILLNER_ARTEFACTS_DIR)).filePath(name);
}

} // namespace quillner::testing
