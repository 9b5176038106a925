#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QStandardItem;
class QStandardItemModel;
class QTreeView;

namespace quillner {

// A folder browser that offers only its root folder and the folders below it: the root is the
// one top node of the tree, so nothing above or beside it can be reached. Each folder's
// sub-folders are read when it is first shown expanded, in the dialog's own thread, so the tree
// holds every folder there is from the moment it is on the screen.
class FolderBrowserDialog : public QDialog
{
    Q_OBJECT
public:
    FolderBrowserDialog(const QString& title, const QString& root, const QString& selected,
                        QWidget* parent = nullptr);

    // The folder under the cursor, with the platform's separators; the root when none is.
    QString chosenFolder() const;
    bool select(const QString& folder);
    QTreeView* tree() const { return m_tree; }

private:
    QStandardItem* folderItem(const QString& path);
    void readSubFolders(QStandardItem* item);

    QString m_root;
    QStandardItemModel* m_folders;
    QTreeView* m_tree;
};

// Shows the browser modally; the chosen folder, or nothing when cancelled.
std::optional<QString> browseForFolderBelow(QWidget* parent, const QString& title,
                                            const QString& root, const QString& selected);

} // namespace quillner
