#include "gui/app/folder_browser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace quillner {

namespace {

// Hides everything beside the root folder at the level that holds it, so that the root is the
// one top node of the tree and nothing above or beside it can be reached.
class RootOnlyProxy : public QSortFilterProxyModel
{
public:
    RootOnlyProxy(QFileSystemModel* source, QString root, QObject* parent)
        : QSortFilterProxyModel(parent), m_files(source), m_root(std::move(root))
    {
        setSourceModel(source);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const QModelIndex index = m_files->index(row, 0, parent);
        const QString path = QDir::cleanPath(m_files->filePath(index));
        // Only folders on the path to the root, the root and what lies below it are shown.
        return path == m_root || path.startsWith(m_root + u'/') ||
               m_root.startsWith(path == QStringLiteral("/") ? path : path + u'/');
    }

private:
    QFileSystemModel* m_files;
    QString m_root;
};

} // namespace

std::optional<QString> browseForFolderBelow(QWidget* parent, const QString& title,
                                            const QString& root, const QString& selected)
{
    const QString cleanRoot = QDir::cleanPath(QDir::fromNativeSeparators(root));
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto* files = new QFileSystemModel(&dialog);
    files->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    files->setRootPath(cleanRoot);
    auto* proxy = new RootOnlyProxy(files, cleanRoot, &dialog);

    auto* tree = new QTreeView(&dialog);
    tree->setObjectName(QStringLiteral("FolderTree"));
    tree->setModel(proxy);
    for (int column = 1; column < files->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();
    const QModelIndex rootIndex = proxy->mapFromSource(files->index(cleanRoot));
    tree->setRootIndex(rootIndex.parent());
    tree->expand(rootIndex);

    const QString start = selected.isEmpty() ? cleanRoot : QDir::cleanPath(QDir::fromNativeSeparators(selected));
    const QModelIndex startIndex = proxy->mapFromSource(files->index(start));
    tree->setCurrentIndex(startIndex.isValid() ? startIndex : rootIndex);
    tree->scrollTo(tree->currentIndex());

    auto* label = new QLabel(title, &dialog);
    label->setBuddy(tree);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(tree);
    layout->addWidget(buttons);
    dialog.resize(360, 420);

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QModelIndex chosen = proxy->mapToSource(tree->currentIndex());
    QString path = chosen.isValid() ? QDir::cleanPath(files->filePath(chosen)) : cleanRoot;
    // Anything outside the root cannot be chosen; it would only be reached through the ancestors.
    if (path != cleanRoot && !path.startsWith(cleanRoot + u'/'))
        path = cleanRoot;
    return QDir::toNativeSeparators(path);
}

} // namespace quillner
