#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace quillner {

// What a document's file held when a window read it, so that "OK" can tell whether something
// else changed it since: the command line, a checkout, another editor. The bytes are compared
// through their hash, so a file written again with the same bytes is no change.
class LoadedDocument
{
public:
    // Takes the file as it is now. Called before the window reads it: a change made during the
    // reading is then seen as one, never missed.
    void remember(const QString& path);
    // Created, removed, made unreadable or given other bytes since it was remembered.
    bool changedOnDisk() const;
    const QString& path() const { return m_path; }

private:
    enum class Presence { Missing, Readable, Unreadable };
    struct State
    {
        Presence presence = Presence::Missing;
        QByteArray digest; // of a readable file
        friend bool operator==(const State&, const State&) = default;
    };
    static State stateOf(const QString& path);

    QString m_path;
    State m_state;
};

// Whether "OK" may write the window's values over the document: yes when the file is as the
// window read it; when it changed on disk, the user is asked, naming the file, whether to
// overwrite the file's values or to keep them. Keeping them is the default answer; the window
// then shows the file's values instead of writing.
bool mayOverwrite(QWidget* parent, const LoadedDocument& document);

} // namespace quillner
