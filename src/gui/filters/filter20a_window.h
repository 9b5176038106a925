#pragma once

#include "core/app/app_paths.h"
#include "core/filters/filter20a.h"
#include "gui/documents/loaded_document.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListView;
class QRadioButton;
class QStringListModel;

namespace quillner {

class IdentifierMap;
class RecordingTestWindow;

// "Filter CAN 2.0A": which of the 2048 standard identifiers the device receives.
class TFFilter : public QDialog
{
    Q_OBJECT
public:
    TFFilter(const AppPaths& paths, QWidget* parent = nullptr);

    void loadFilter();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showSelected();
    void hideSelected();
    void showAll();
    void hideAll();
    void saveAndClose();
    // The identifiers typed in the entry, in the identifier notation, made visible or hidden.
    void setTypedVisibility(bool visible);
    // What the map's user did, given to the table and the lists.
    void setMapVisibility(const QList<int>& ids, bool visible);
    // The filter as shown, with the project's general parameters, tried on a recording.
    void testOnRecording();
    // The configuration with the filter as shown, and the last recording tested, as a page.
    void saveReport();

    void refreshIdLists();
    // Gives every identifier selected in the list the visibility entry.
    void moveSelected(const QListView* list, quint8 entry);
    NumberBase displayBase() const;

    const AppPaths& m_paths;
    LoadedDocument m_loaded;
    Filter20A m_filter; // IdVisible: the table that "OK" writes
    QStringListModel* m_hiddenIds;
    QStringListModel* m_visibleIds;
    QListView* m_hiddenList;
    QListView* m_visibleList;
    QRadioButton* m_hexadecimal;
    QRadioButton* m_decimal;
    QLineEdit* m_idEntry;
    QLabel* m_visibleCount;
    IdentifierMap* m_map;
    RecordingTestWindow* m_recordingTest;
};

} // namespace quillner
