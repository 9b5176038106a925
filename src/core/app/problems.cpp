#include "core/app/problems.h"

#include <QStringList>

namespace quillner {

QString Problem::toString() const
{
    QString where = file;
    if (!location.isEmpty())
        where += (where.isEmpty() ? QString() : QStringLiteral(", ")) + location;
    return where.isEmpty() ? text : where + QStringLiteral(": ") + text;
}

QStringList problemLines(const Problems& problems)
{
    QStringList lines;
    for (const Problem& problem : problems)
        lines.append(problem.toString());
    return lines;
}

QJsonObject problemJson(const Problem& problem)
{
    return {{QStringLiteral("file"), problem.file},
            {QStringLiteral("location"), problem.location},
            {QStringLiteral("text"), problem.text}};
}

QJsonArray problemsJson(const Problems& problems)
{
    QJsonArray array;
    for (const Problem& problem : problems)
        array.append(problemJson(problem));
    return array;
}

} // namespace quillner
