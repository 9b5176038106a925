#pragma once

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/problems.h"
#include "core/app/project_lock.h"
#include "core/app/result.h"

#include <QString>

#include <functional>
#include <optional>

namespace quillner {

// A kind of project document: how it is read, with what could not be read, and how it is
// written.
template <typename Value> struct DocumentFormat
{
    QString name; // "pargen.xml", for the refusal
    std::function<Result<Value>(const QString& path)> load;
    std::function<void(const QString& path, const Value& value)> save;
};

// "pargen.xml, Ser_Baud: ...\npargen.xml cannot be read, so it is not rewritten; correct it or
// save it in its window first"
QString unreadableDocumentRefusal(const QString& name, const Problems& problems);

// The one way the project's documents change, for every writer: the command line's set, filter
// set, filter fit --apply, filter import-dbc and import, each batch row, and the windows' "OK".
// The project's lock is held from construction to destruction, so that no compile, merge or
// other edit of the project runs between the reading and the writing. An edit reads the document
// it changes and refuses one that cannot be read: an edit of part of a document would otherwise
// put defaults in place of what was never read. The windows write their whole document without
// reading it: they reported the fault when they opened, and save what the user sees and
// confirmed with "OK". Every document is written in one step (a crash leaves the old one or the
// new one) and only below the project folder, never through a symbolic link.
class ProjectEdit
{
public:
    // Throws "Project not valid" without a project folder, or the busy message when another
    // Quillner holds the project for the whole wait. A folder that does not exist has nothing
    // to lock: the writing then fails with the document's own message.
    explicit ProjectEdit(const QString& projectDir,
                         std::chrono::milliseconds wait = kProjectLockWait);
    // The open project of the run. When the run knows its PROJECTS folder, a ProjectDir that is
    // PROJECTS itself or lies outside it is refused ("... open or create a project first"):
    // documents are written into a project folder only, never among the projects. Without a
    // PROJECTS folder (the command line names any folder) it is the form above.
    explicit ProjectEdit(const AppPaths& paths, std::chrono::milliseconds wait = kProjectLockWait);

    const QString& projectDir() const { return m_projectDir; }

    // The document's value; the defaults when it does not exist. Throws the refusal of a
    // document that cannot be read.
    template <typename Value>
    Value read(const QString& path, const DocumentFormat<Value>& format) const
    {
        Result<Value> loaded = format.load(path);
        if (!loaded.whole())
            throw Error(unreadableDocumentRefusal(format.name, loaded.problems));
        return std::move(loaded.value);
    }

    template <typename Value>
    void write(const QString& path, const DocumentFormat<Value>& format, const Value& value) const
    {
        checkOutput(path);
        format.save(path, value);
    }

private:
    void checkOutput(const QString& path) const;

    QString m_projectDir;
    std::optional<ProjectLock> m_lock;
};

} // namespace quillner
