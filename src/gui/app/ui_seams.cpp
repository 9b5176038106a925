#include "gui/app/ui_seams.h"

#include "gui/app/folder_browser.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace quillner {

namespace {

MessageHandler& messageHandler()
{
    static MessageHandler handler;
    return handler;
}

QuestionHandler& questionHandler()
{
    static QuestionHandler handler;
    return handler;
}

DialogRunner& dialogRunner()
{
    static DialogRunner runner;
    return runner;
}

FolderBrowser& folderBrowser()
{
    static FolderBrowser browser;
    return browser;
}

UrlOpener& urlOpener()
{
    static UrlOpener opener;
    return opener;
}

FileChooser& fileChooser()
{
    static FileChooser chooser;
    return chooser;
}

void showMessage(QWidget* parent, MessageKind kind, const QString& text)
{
    if (messageHandler()) {
        messageHandler()(parent, kind, text);
        return;
    }
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromLatin1(kApplicationTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void setMessageHandler(MessageHandler handler)
{
    messageHandler() = std::move(handler);
}

void setQuestionHandler(QuestionHandler handler)
{
    questionHandler() = std::move(handler);
}

void setDialogRunner(DialogRunner runner)
{
    dialogRunner() = std::move(runner);
}

void setFolderBrowser(FolderBrowser browser)
{
    folderBrowser() = std::move(browser);
}

void setUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

void setFileChooser(FileChooser chooser)
{
    fileChooser() = std::move(chooser);
}

void showPlainMessage(QWidget* parent, const QString& text)
{
    showMessage(parent, MessageKind::Plain, text);
}

void showErrorMessage(QWidget* parent, const QString& text)
{
    showMessage(parent, MessageKind::Error, text);
}

bool askYesNo(QWidget* parent, const QString& text)
{
    return askYesNo(parent, text, QString(), QString());
}

bool askYesNo(QWidget* parent, const QString& text, const QString& yesCaption,
              const QString& noCaption)
{
    if (questionHandler())
        return questionHandler()(parent, text);
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationTitle), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    if (!yesCaption.isEmpty())
        box.button(QMessageBox::Yes)->setText(yesCaption);
    if (!noCaption.isEmpty())
        box.button(QMessageBox::No)->setText(noCaption);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString withReportFullStop(const QString& text)
{
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        return text + u'.';
    return text;
}

void reportError(QWidget* parent, const QString& text)
{
    showErrorMessage(parent, withReportFullStop(text));
}

int runModal(QDialog* dialog)
{
    if (dialogRunner())
        return dialogRunner()(dialog);
    return dialog->exec();
}

std::optional<QString> browseForFolder(QWidget* parent, const QString& title, const QString& root,
                                       const QString& selected)
{
    if (folderBrowser())
        return folderBrowser()(parent, title, root, selected);
    return browseForFolderBelow(parent, title, root, selected);
}

void openUrl(const QString& url)
{
    if (urlOpener()) {
        urlOpener()(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(url));
}

std::optional<QString> chooseFile(QWidget* parent, FileChoice choice, const QString& title,
                                  const QString& start, const QString& filter)
{
    if (fileChooser())
        return fileChooser()(parent, choice, title, start, filter);
    const QString chosen = choice == FileChoice::Open
                               ? QFileDialog::getOpenFileName(parent, title, start, filter)
                               : QFileDialog::getSaveFileName(parent, title, start, filter);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

} // namespace quillner
