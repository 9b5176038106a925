#pragma once

#include "core/app/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <exception>

namespace quillner {

// The one failure type of the core: its message is the text the user sees.
class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// The value of a whole result. A caller that has no result of its own to pass problems on in
// (a window's handler, a command) turns them into the one Error its guard tells, one a line, as
// the message the user has always seen.
template <typename T> T wholeValue(Result<T> result)
{
    if (!result.whole())
        throw Error(problemLines(result.problems).join(u'\n'));
    return std::move(result.value);
}

} // namespace quillner
