#include "core/app/project_output.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

namespace {

// One spelling for comparing: "/" between names, no "." or "..", no trailing separator.
QString comparable(const QString& path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(toNativeSeparators(path)));
}

QString refusal(const QString& path, const QString& cause)
{
    return cannotCreateFileMessage(path, cause);
}

} // namespace

Problems projectOutputProblems(const QString& projectDir, const QString& path)
{
    const QString root = comparable(projectDir);
    const QString target = comparable(path);
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    if (root.isEmpty() || !target.startsWith(prefix) || target.size() == prefix.size()) {
        return {{{},
                 {},
                 refusal(path, QStringLiteral("It is not inside the project folder \"%1\"")
                                   .arg(QDir::toNativeSeparators(root)))}};
    }
    const QStringList names = target.mid(prefix.size()).split(u'/');
    QString current = root;
    for (qsizetype i = 0; i < names.size(); ++i) {
        current = current.endsWith(u'/') ? current + names[i] : current + u'/' + names[i];
        const QFileInfo info(current);
        const QString shown = QDir::toNativeSeparators(current);
        const bool last = i == names.size() - 1;
        if (info.isSymLink()) {
            const QString what = last ? QStringLiteral("It") : u'"' + shown + u'"';
            return {{{},
                     {},
                     refusal(path, QStringLiteral("%1 is a symbolic link: the project's files are "
                                                  "written only inside the project folder")
                                       .arg(what))}};
        }
        if (!last && info.exists() && !info.isDir()) {
            return {{{}, {}, refusal(path, QStringLiteral("\"%1\" is not a folder").arg(shown))}};
        }
        if (last && info.exists() && !info.isFile()) {
            return {{{}, {}, refusal(path, QStringLiteral("It is not a regular file"))}};
        }
    }
    return {};
}

void checkProjectOutput(const QString& projectDir, const QString& path)
{
    const Problems problems = projectOutputProblems(projectDir, path);
    if (!problems.isEmpty())
        throw Error(problems.front().text);
}

} // namespace quillner
