#pragma once

#include "core/app/error.h"

#include <QString>
#include <exception>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace quillner {

inline constexpr auto kApplicationTitle = "Firmware Quillner";

// Everything a window shows or starts outside itself goes through these seams, so that tests can
// record it instead of blocking on a modal loop or opening a browser.
enum class MessageKind { Plain, Error, Question };

using MessageHandler = std::function<void(QWidget* parent, MessageKind kind, const QString& text)>;
// Answers a yes/no question: true for "Yes".
using QuestionHandler = std::function<bool(QWidget* parent, const QString& text)>;
using DialogRunner = std::function<int(QDialog* dialog)>;
using FolderBrowser = std::function<std::optional<QString>(
    QWidget* parent, const QString& title, const QString& root, const QString& selected)>;
using UrlOpener = std::function<void(const QString& url)>;
// A file to read (Open) or to write (Save); nothing when the user cancelled. start is the folder
// to begin in, or for Save the suggested file; filter as QFileDialog takes it.
enum class FileChoice { Open, Save };
using FileChooser =
    std::function<std::optional<QString>(QWidget* parent, FileChoice choice, const QString& title,
                                         const QString& start, const QString& filter)>;

// An empty function restores the real behaviour.
void setMessageHandler(MessageHandler handler);
void setQuestionHandler(QuestionHandler handler);
void setDialogRunner(DialogRunner runner);
void setFolderBrowser(FolderBrowser browser);
void setUrlOpener(UrlOpener opener);
void setFileChooser(FileChooser chooser);

// A plain box captioned with the application title, with an OK button.
void showPlainMessage(QWidget* parent, const QString& text);
// An error box: the application title, the error icon, an OK button.
void showErrorMessage(QWidget* parent, const QString& text);

// A question box captioned with the application title, with "Yes" and "No" buttons; "No" is the
// default, so Return or Escape answer it. True when the user chose "Yes".
bool askYesNo(QWidget* parent, const QString& text);
// The same question with buttons that say what each answer does ("Overwrite", "Keep the file's
// values"); the handler of the tests sees it as any yes/no question.
bool askYesNo(QWidget* parent, const QString& text, const QString& yesCaption,
              const QString& noCaption);

// The general error report: the error box, with a full stop added when the text's last
// character sorts after ".".
QString withReportFullStop(const QString& text);
void reportError(QWidget* parent, const QString& text);

int runModal(QDialog* dialog);
std::optional<QString> browseForFolder(QWidget* parent, const QString& title, const QString& root,
                                       const QString& selected);
void openUrl(const QString& url);
std::optional<QString> chooseFile(QWidget* parent, FileChoice choice, const QString& title,
                                  const QString& start, const QString& filter);

// Runs one event handler: any failure it raises becomes the general error report and the rest
// of the handler is skipped. No exception crosses the event loop.
template <typename Handler> void guarded(QWidget* parent, Handler&& handler) noexcept
{
    try {
        handler();
    } catch (const Error& error) {
        reportError(parent, error.message());
    } catch (const std::exception& error) {
        reportError(parent, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        reportError(parent, QStringLiteral("Unexpected error"));
    }
}

} // namespace quillner
