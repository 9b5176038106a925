#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

namespace quillner::testing {

// What a configuration report's page says, read back from its markup: every number marked with
// a data-key attribute, the identifier map and the recordings' tables.
struct ReadReport
{
    struct Row
    {
        quint32 id = 0;
        bool extended = false;
        QString text;
        qint64 frames = -1;
        qint64 passed = -1;
        qint64 blocked = -1;
        QString verdict;
        QString message;
    };
    struct Recording
    {
        QString name;
        QMap<QString, qint64> totals; // frames, passed, blocked, wrongForm, unreadable
        QList<Row> rows;
    };

    QString error; // why the page could not be read as XML; empty when it could
    QString title;
    QMap<QString, QString> settings;  // serial.baud -> its data-value
    QMap<QString, QString> filter;    // filter.kind, filter.identifierCount, ... -> text
    QList<qint64> patternCounts;      // 2.0B mask: identifiers passed, a pattern a row
    QList<quint32> listedIds;         // 2.0B list
    std::array<int, 2048> mapCells{}; // 2.0A: 1 visible, 0 hidden, -1 not drawn, 2 drawn twice
    int mapRects = 0;
    QList<Recording> recordings;
    QStringList scripts;    // every script element or on... attribute
    QStringList references; // every src, href or url(...) that points outside the page
};

ReadReport readReport(const QByteArray& html);

} // namespace quillner::testing
