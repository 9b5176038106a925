#include "core/filters/dbc_reader.h"

#include "core/app/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

namespace quillner {

namespace {

constexpr quint32 kExtendedFlag = 0x80000000u;
const QString kIndependentSignals = QStringLiteral("VECTOR__INDEPENDENT_SIG_MSG");

} // namespace

Partial<QList<DbcMessage>> readDbcMessages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    static const QRegularExpression message(
        QStringLiteral(R"(^\s*BO_\s+(\d+)\s+([A-Za-z_][A-Za-z0-9_]*)\s*:\s*(\d+)\s+\S+)"));
    const QString fileName = QFileInfo(path).fileName();
    Partial<QList<DbcMessage>> result;
    QTextStream stream(&file);
    int lineNumber = 0;
    while (!stream.atEnd()) {
        const QString line = stream.readLine();
        ++lineNumber;
        if (!line.trimmed().startsWith(QLatin1StringView("BO_ ")))
            continue;
        const QString where = QStringLiteral("line %1").arg(lineNumber);
        const QRegularExpressionMatch match = message.match(line);
        bool ok = false;
        const quint64 raw = match.hasMatch() ? match.captured(1).toULongLong(&ok) : 0;
        if (!ok || raw > 0xFFFFFFFFu) {
            result.problems.append({fileName, where, QStringLiteral("not a message line")});
            continue;
        }
        DbcMessage dbc;
        dbc.name = match.captured(2);
        if (dbc.name == kIndependentSignals)
            continue;
        dbc.extended = (raw & kExtendedFlag) != 0;
        dbc.id = quint32(raw) & ~kExtendedFlag;
        dbc.line = lineNumber;
        if (dbc.id > (dbc.extended ? 0x1FFFFFFFu : 0x7FFu)) {
            result.problems.append({fileName, where,
                                    QStringLiteral("the identifier of %1 does not fit %2 bits")
                                        .arg(dbc.name)
                                        .arg(dbc.extended ? 29 : 11)});
            continue;
        }
        result.value.append(dbc);
    }
    return result;
}

} // namespace quillner
