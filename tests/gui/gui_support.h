#pragma once

#include "gui/app/ui_seams.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QAbstractButton;

namespace quillner::testing {

struct RecordedMessage
{
    MessageKind kind;
    QString text;
    friend bool operator==(const RecordedMessage&, const RecordedMessage&) = default;
};

char* toString(const RecordedMessage& message);

// Records every message box and yes/no question instead of showing it, for as long as it lives;
// questions are answered with answer ("No", the boxes' default, unless a test says otherwise).
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QList<RecordedMessage> messages;
    bool answer = false;
    QStringList texts() const;
    QStringList questions() const;
    QStringList errors() const;
    QStringList plain() const;
    // The texts of the error boxes shown so far, and forgets every message.
    QStringList takeErrors();
};

// A button's caption as the user reads it: the "&" that marks its Alt key is not shown ("&&"
// shows one "&").
QString shownText(const QAbstractButton* button);

// A temporary folder that stands for the executable's folder.
class ExeFolder
{
public:
    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const;
    void write(const QString& relative, const QByteArray& content) const;
    QByteArray read(const QString& relative) const;
    void makeFolder(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

} // namespace quillner::testing

using quillner::testing::ExeFolder;
using quillner::testing::MessageRecorder;
