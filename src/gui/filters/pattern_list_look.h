#pragma once

#include <QFont>
#include <QString>

class QListWidget;

namespace quillner {

// How the 2.0B window's pattern list shows its patterns: lined up in a fixed-width font, each
// with the number of identifiers it passes at its right end.

// "Courier New" where the system has it, else its own fixed-width font, so the patterns line up.
QFont patternFont();

// Draws each pattern's item with its number of identifiers; the item's text stays the pattern.
void showPassedCounts(QListWidget* list);

// Adds a pattern: its identifier and mask as CAN tools write them on hover, the number it
// passes beside it and in what a screen reader says.
void appendPatternItem(QListWidget* list, const QString& pattern);

} // namespace quillner
