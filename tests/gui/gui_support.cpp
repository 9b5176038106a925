#include "gui_support.h"

#include <QDir>
#include <QFile>

MessageRecorder::MessageRecorder()
{
    quillner::setMessageHandler([this](QWidget*, quillner::MessageKind kind, const QString& text) {
        messages.append({kind, text});
    });
}

MessageRecorder::~MessageRecorder()
{
    quillner::setMessageHandler({});
}

QStringList MessageRecorder::texts() const
{
    QStringList result;
    for (const Message& message : messages)
        result << message.text;
    return result;
}

QStringList MessageRecorder::errors() const
{
    QStringList result;
    for (const Message& message : messages)
        if (message.kind == quillner::MessageKind::Error)
            result << message.text;
    return result;
}

QStringList MessageRecorder::plain() const
{
    QStringList result;
    for (const Message& message : messages)
        if (message.kind == quillner::MessageKind::Plain)
            result << message.text;
    return result;
}

ExeFolder::ExeFolder() = default;

QString ExeFolder::file(const QString& relative) const
{
    return QDir::toNativeSeparators(m_dir.filePath(relative));
}

void ExeFolder::write(const QString& relative, const QByteArray& content) const
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QByteArray ExeFolder::read(const QString& relative) const
{
    QFile file(m_dir.filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ExeFolder::makeFolder(const QString& relative) const
{
    QDir().mkpath(m_dir.filePath(relative));
}
