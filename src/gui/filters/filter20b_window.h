#pragma once

#include "core/app/app_paths.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_entries.h"
#include "gui/documents/loaded_document.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace quillner {

class RecordingTestWindow;

// "Filter CAN 2.0B": the identifier list or the bit patterns of extended frames. The mode, the
// filter type and the display base are the window's own for the whole run; a document sets the
// first two when it carries them.
class TFFilterExt : public QDialog
{
    Q_OBJECT
public:
    TFFilterExt(const AppPaths& paths, QWidget* parent = nullptr);

    void loadFilter();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeCobIdPanel();
    QWidget* makeMaskPanel();

    void showCobIdPanel();
    void showMaskPanel();
    void addCobIds();
    void deleteCobId();
    void convertCobIdBase();
    void addPattern();
    void deletePattern();
    void saveAndClose();
    // The listed identifiers, or the typed ones while the list is empty, as patterns: the extra
    // identifiers they let through are shown, and the mask list is replaced only when the user
    // agrees.
    void fitPatternsToIds();

    NumberBase displayBase() const;
    Filter20B collect() const;
    void apply(const Filter20B& filter);
    void appendPattern(const QString& pattern);
    // How many identifiers the listed patterns pass together.
    void showPatternTotal();
    // The filter as shown, with the project's general parameters, tried on a recording.
    void testOnRecording();
    // The configuration with the filter as shown, and the last recording tested, as a page.
    void saveReport();
    QStringList cobIdEntries() const;

    const AppPaths& m_paths;
    LoadedDocument m_loaded;
    QRadioButton* m_cobIdMode;
    QRadioButton* m_maskMode;
    QStackedWidget* m_panels;
    QWidget* m_cobIdPanel;
    QWidget* m_maskPanel;
    QLineEdit* m_cobIdEntry;
    QListWidget* m_cobIdList;
    QRadioButton* m_typePositive;
    QRadioButton* m_typeNegative;
    QRadioButton* m_hexBase;
    QLineEdit* m_patternEntry;
    QListWidget* m_patternList;
    QLabel* m_patternTotal;
    RecordingTestWindow* m_recordingTest;
    // Each entry field and the ADD button that Enter in it presses.
    QHash<QObject*, QPushButton*> m_addOnReturn;
};

} // namespace quillner
