#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

namespace quillner::testing {

// Debian's chromium; empty when it is not installed (scripts/setup installs it for the tests).
QString chromiumProgram();

// Flags for a run that fetches nothing, keeps nothing and asks nothing: a new empty profile in
// profileDir, no network services, no first-run pages.
QStringList chromiumQuietFlags(const QString& profileDir);

// What a picture shows, to tell a rendered page from a blank one.
struct PictureFacts
{
    int colours = 0;          // distinct colours
    double notBackground = 0; // share of pixels that are not the top-left pixel's colour
    qint64 near(const QColor& colour) const;
    QImage image;
};

PictureFacts pictureFacts(const QImage& image);

// Where a test keeps the pictures it takes, made when missing.
QString artefactPath(const QString& name);

} // namespace quillner::testing
