#include "gui/app/folder_browser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace quillner {

namespace {

QString cleanFolder(const QString& path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

bool isBelowOrAt(const QString& path, const QString& root)
{
    return path == root || path.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

constexpr int kPathRole = Qt::UserRole + 1;
// Set once an item's sub-folders were read: until then it holds one placeholder row, so that
// the tree offers to expand it.
constexpr int kReadRole = Qt::UserRole + 2;

QStandardItem* newFolderItem(const QString& path, const QString& name)
{
    auto* item = new QStandardItem(name);
    item->setEditable(false);
    item->setData(path, kPathRole);
    item->setData(false, kReadRole);
    if (!QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty())
        item->appendRow(new QStandardItem());
    return item;
}

} // namespace

FolderBrowserDialog::FolderBrowserDialog(const QString& title, const QString& root,
                                         const QString& selected, QWidget* parent)
    : QDialog(parent), m_root(cleanFolder(root))
{
    setObjectName(QStringLiteral("FolderBrowser"));
    setWindowTitle(title);
    m_folders = new QStandardItemModel(this);
    QStandardItem* top = newFolderItem(m_root, QFileInfo(m_root).fileName());
    m_folders->appendRow(top);
    readSubFolders(top);

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("FolderTree"));
    m_tree->setModel(m_folders);
    m_tree->header()->hide();
    connect(m_tree, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { readSubFolders(m_folders->itemFromIndex(index)); });
    m_tree->expand(top->index());
    if (selected.isEmpty() || !select(selected))
        m_tree->setCurrentIndex(top->index());

    auto* label = new QLabel(title, this);
    label->setBuddy(m_tree);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_tree);
    layout->addWidget(buttons);
    resize(360, 420);
}

void FolderBrowserDialog::readSubFolders(QStandardItem* item)
{
    if (!item || item->data(kReadRole).toBool())
        return;
    item->setData(true, kReadRole);
    item->removeRows(0, item->rowCount());
    const QString path = item->data(kPathRole).toString();
    const QStringList names =
        QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names)
        item->appendRow(newFolderItem(QDir(path).filePath(name), name));
}

// The item of a folder at or below the root, its parents' sub-folders read on the way; none for
// a folder that is not there.
QStandardItem* FolderBrowserDialog::folderItem(const QString& path)
{
    QStandardItem* item = m_folders->item(0);
    const QString below = path.mid(m_root.size());
    for (const QString& name : below.split(u'/', Qt::SkipEmptyParts)) {
        readSubFolders(item);
        QStandardItem* next = nullptr;
        for (int row = 0; row < item->rowCount() && !next; ++row) {
            if (item->child(row)->text() == name)
                next = item->child(row);
        }
        if (!next)
            return nullptr;
        item = next;
    }
    return item;
}

bool FolderBrowserDialog::select(const QString& folder)
{
    const QString path = cleanFolder(folder);
    if (!isBelowOrAt(path, m_root))
        return false;
    QStandardItem* item = folderItem(path);
    if (!item)
        return false;
    m_tree->setCurrentIndex(item->index());
    m_tree->scrollTo(item->index());
    return true;
}

QString FolderBrowserDialog::chosenFolder() const
{
    const QStandardItem* chosen = m_folders->itemFromIndex(m_tree->currentIndex());
    const QString path = chosen ? cleanFolder(chosen->data(kPathRole).toString()) : m_root;
    return QDir::toNativeSeparators(isBelowOrAt(path, m_root) ? path : m_root);
}

std::optional<QString> browseForFolderBelow(QWidget* parent, const QString& title,
                                            const QString& root, const QString& selected)
{
    FolderBrowserDialog dialog(title, root, selected, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenFolder();
}

} // namespace quillner
