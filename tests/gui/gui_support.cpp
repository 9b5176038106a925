#include "gui_support.h"

#include "test_files.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QTest>

namespace quillner::testing {

namespace {

QStringList textsOf(const QList<RecordedMessage>& messages, std::optional<MessageKind> kind)
{
    QStringList result;
    for (const RecordedMessage& message : messages)
        if (!kind || message.kind == *kind)
            result << message.text;
    return result;
}

} // namespace

QString shownText(const QAbstractButton* button)
{
    const QString caption = button->text();
    QString shown;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i;
        shown += caption[i];
    }
    return shown;
}

char* toString(const RecordedMessage& message)
{
    const QString kind = message.kind == MessageKind::Error      ? QStringLiteral("error")
                         : message.kind == MessageKind::Question ? QStringLiteral("question")
                                                                 : QStringLiteral("plain");
    return QTest::toString(QStringLiteral("%1: %2").arg(kind, message.text));
}

MessageRecorder::MessageRecorder()
{
    setMessageHandler([this](QWidget*, MessageKind kind, const QString& text) {
        messages.append({kind, text});
    });
    setQuestionHandler([this](QWidget*, const QString& text) {
        messages.append({MessageKind::Question, text});
        return answer;
    });
}

MessageRecorder::~MessageRecorder()
{
    setMessageHandler({});
    setQuestionHandler({});
}

QStringList MessageRecorder::texts() const
{
    return textsOf(messages, std::nullopt);
}

QStringList MessageRecorder::errors() const
{
    return textsOf(messages, MessageKind::Error);
}

QStringList MessageRecorder::questions() const
{
    return textsOf(messages, MessageKind::Question);
}

QStringList MessageRecorder::plain() const
{
    return textsOf(messages, MessageKind::Plain);
}

QStringList MessageRecorder::takeErrors()
{
    const QStringList result = errors();
    messages.clear();
    return result;
}

QString ExeFolder::file(const QString& relative) const
{
    return QDir::toNativeSeparators(m_dir.filePath(relative));
}

void ExeFolder::write(const QString& relative, const QByteArray& content) const
{
    QVERIFY(writeFile(m_dir.filePath(relative), content));
}

QByteArray ExeFolder::read(const QString& relative) const
{
    return readFile(m_dir.filePath(relative));
}

void ExeFolder::makeFolder(const QString& relative) const
{
    QDir().mkpath(m_dir.filePath(relative));
}

} // namespace quillner::testing
