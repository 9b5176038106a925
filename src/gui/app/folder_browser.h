#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace quillner {

// A folder browser that offers only root and the folders below it, with selected (when not
// empty) selected at the start. Returns the chosen folder, or nothing when cancelled.
std::optional<QString> browseForFolderBelow(QWidget* parent, const QString& title,
                                            const QString& root, const QString& selected);

} // namespace quillner
