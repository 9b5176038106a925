#pragma once

#include "gui/app/ui_seams.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// Records every message box instead of showing it, for as long as it lives.
class MessageRecorder
{
public:
    struct Message
    {
        quillner::MessageKind kind;
        QString text;
    };

    MessageRecorder();
    ~MessageRecorder();

    QList<Message> messages;
    QStringList texts() const;
    QStringList errors() const;
    QStringList plain() const;
};

// A temporary folder that stands for the executable's folder.
class ExeFolder
{
public:
    ExeFolder();
    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const;
    void write(const QString& relative, const QByteArray& content) const;
    QByteArray read(const QString& relative) const;
    void makeFolder(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};
