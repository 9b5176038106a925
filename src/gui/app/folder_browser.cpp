#include "gui/app/folder_browser.h"

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

QString cleanFolder(const QString& path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

bool isBelowOrAt(const QString& path, const QString& root)
{
    return path == root || path.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

// Keeps the root's ancestors (so the model can reach it), the root and what lies below it;
// everything beside them is hidden.
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
        const QString path = cleanFolder(m_files->filePath(m_files->index(row, 0, parent)));
        return isBelowOrAt(path, m_root) || isBelowOrAt(m_root, path);
    }

private:
    QFileSystemModel* m_files;
    QString m_root;
};

} // namespace

FolderBrowserDialog::FolderBrowserDialog(const QString& title, const QString& root,
                                         const QString& selected, QWidget* parent)
    : QDialog(parent), m_root(cleanFolder(root))
{
    setObjectName(QStringLiteral("FolderBrowser"));
    setWindowTitle(title);
    m_files = new QFileSystemModel(this);
    m_files->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    m_files->setRootPath(m_root);
    m_proxy = new RootOnlyProxy(m_files, m_root, this);

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("FolderTree"));
    m_tree->setModel(m_proxy);
    for (int column = 1; column < m_files->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->header()->hide();
    const QModelIndex rootIndex = m_proxy->mapFromSource(m_files->index(m_root));
    m_tree->setRootIndex(rootIndex.parent());
    m_tree->expand(rootIndex);
    if (selected.isEmpty() || !select(selected))
        m_tree->setCurrentIndex(rootIndex);

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

bool FolderBrowserDialog::select(const QString& folder)
{
    const QString path = cleanFolder(folder);
    if (!isBelowOrAt(path, m_root))
        return false;
    const QModelIndex index = m_proxy->mapFromSource(m_files->index(path));
    if (!index.isValid())
        return false;
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
    return true;
}

QString FolderBrowserDialog::chosenFolder() const
{
    const QModelIndex chosen = m_proxy->mapToSource(m_tree->currentIndex());
    const QString path = chosen.isValid() ? cleanFolder(m_files->filePath(chosen)) : m_root;
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
