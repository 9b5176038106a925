#include "gui/filters/filter20b_window.h"

#include "core/analysis/recording_test.h"
#include "core/filters/filter_edits.h"
#include "core/filters/mask_pattern.h"
#include "core/filters/pattern_fit.h"
#include "gui/app/report_saving.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/filters/live_bus_window.h"
#include "gui/filters/pattern_list_look.h"
#include "gui/filters/recording_test_window.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quillner {

namespace {

void deleteSelected(QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

} // namespace

bool TFFilterExt::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in an entry field adds its text, once, and must not press OK as well.
    if (event->type() == QEvent::KeyPress && m_addOnReturn.contains(watched)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_addOnReturn.value(watched)->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFFilterExt::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { loadFilter(); });
}

void TFFilterExt::loadFilter()
{
    // The lists start empty at every showing; the settings stand unless the document sets them.
    Filter20B settings = collect();
    settings.cobIds.clear();
    settings.patterns.clear();
    m_loaded.remember(m_paths.Filter20BPath);
    const Filter20BLoad loaded = loadFilter20B(m_paths.Filter20BPath, settings);
    apply(loaded.value);
    for (const Problem& problem : loaded.problems)
        reportError(this, problem.text);
}

void TFFilterExt::showCobIdPanel()
{
    m_panels->setCurrentWidget(m_cobIdPanel);
}

void TFFilterExt::showMaskPanel()
{
    m_panels->setCurrentWidget(m_maskPanel);
}

void TFFilterExt::addCobIds()
{
    // Every identifier taken before a refusal stays listed.
    const QStringList before = cobIdEntries();
    const Result<ListAddition> added =
        quillner::addCobIds(before, m_cobIdEntry->text(), displayBase());
    m_cobIdList->addItems(added.value.entries.mid(before.size()));
    if (!added.whole())
        showErrorMessage(this, problemLines(added.problems).join(u'\n'));
}

void TFFilterExt::deleteCobId()
{
    deleteSelected(m_cobIdList);
}

void TFFilterExt::convertCobIdBase()
{
    // Entry by entry: an entry that is no integer stops the conversion there.
    const NumberBase base = displayBase();
    for (int row = 0; row < m_cobIdList->count(); ++row) {
        QListWidgetItem* item = m_cobIdList->item(row);
        item->setText(convertCobIdEntry(item->text(), base));
    }
}

void TFFilterExt::addPattern()
{
    QStringList before;
    for (int row = 0; row < m_patternList->count(); ++row)
        before.append(m_patternList->item(row)->text());
    const Result<ListAddition> added = quillner::addPattern(before, m_patternEntry->text());
    if (!added.whole()) {
        showErrorMessage(this, problemLines(added.problems).join(u'\n'));
        return;
    }
    appendPattern(added.value.entries.last());
}

void TFFilterExt::deletePattern()
{
    deleteSelected(m_patternList);
}

void TFFilterExt::saveAndClose()
{
    // A document changed on disk since it was read is overwritten only when the user says so.
    const ProjectEdit edit(m_paths);
    if (!mayOverwrite(this, m_loaded)) {
        loadFilter();
        return;
    }
    edit.write(m_paths.Filter20BPath, filter20BDocument(), collect());
    accept();
}

void TFFilterExt::fitPatternsToIds()
{
    // The list is what the user built up: "ADD" leaves the last identifier in the field, so the
    // field is fitted only while the list is empty.
    const QStringList listed = cobIdEntries();
    const QList<quint32> ids =
        !listed.isEmpty() ? cobIdValues(listed)
                          : wholeValue(termIdentifiers(
                                wholeValue(parseIdTerms(m_cobIdEntry->text(), IdWidth::Extended)),
                                IdWidth::Extended, 1 << 20));
    if (ids.isEmpty()) {
        showErrorMessage(this, QStringLiteral("Type or list the IDs to fit first"));
        return;
    }
    const PatternFit fit = fitPatterns(ids, kPatternListMax);
    if (!askYesNo(this, fitSummary(fit, ids) +
                            QStringLiteral(".\nReplace the pattern list with these patterns?")))
        return;
    m_patternList->clear();
    for (const IdPattern& pattern : fit.patterns)
        appendPattern(idPatternText(pattern));
    m_maskMode->setChecked(true);
}

QStringList TFFilterExt::cobIdEntries() const
{
    QStringList entries;
    for (int row = 0; row < m_cobIdList->count(); ++row)
        entries.append(m_cobIdList->item(row)->text());
    return entries;
}

NumberBase TFFilterExt::displayBase() const
{
    return m_hexBase->isChecked() ? NumberBase::Hexadecimal : NumberBase::Decimal;
}

Filter20B TFFilterExt::collect() const
{
    Filter20B filter;
    filter.cobIdFilter = m_cobIdMode->isChecked();
    filter.typePositive = m_typePositive->isChecked();
    filter.cobIds = cobIdEntries();
    for (int row = 0; row < m_patternList->count(); ++row)
        filter.patterns.append(m_patternList->item(row)->text());
    return filter;
}

void TFFilterExt::apply(const Filter20B& filter)
{
    (filter.cobIdFilter ? m_cobIdMode : m_maskMode)->setChecked(true);
    (filter.typePositive ? m_typePositive : m_typeNegative)->setChecked(true);
    m_cobIdList->clear();
    m_cobIdList->addItems(filter.cobIds);
    m_patternList->clear();
    for (const QString& pattern : filter.patterns)
        appendPattern(pattern);
}

void TFFilterExt::appendPattern(const QString& pattern)
{
    appendPatternItem(m_patternList, pattern);
}

void TFFilterExt::showPatternTotal()
{
    QList<IdPattern> patterns;
    for (int row = 0; row < m_patternList->count(); ++row)
        patterns.append(idPatternOf(m_patternList->item(row)->text()));
    // Without a pattern the bank holds no filter entry, and the device lets every extended
    // frame through.
    m_patternTotal->setText(
        patterns.isEmpty()
            ? QStringLiteral("No pattern: every extended ID passes")
            : QStringLiteral("Together they pass %1 IDs").arg(passedCount(patterns)));
}

void TFFilterExt::saveReport()
{
    saveReportAs(this, m_paths.ProjectDir, [this] {
        ConfigurationReport report = shownFilterReport(
            m_paths.ProjectDir, compileWithFilter(m_paths.PargenPath, collect()), windowTitle());
        m_recordingTest->addLastTest(report);
        return Result<ConfigurationReport>{std::move(report), {}, {}};
    });
}

void TFFilterExt::testOnRecording()
{
    m_recordingTest->testChosenRecording(this, m_paths.ProjectDir, [this] {
        return compileWithFilter(m_paths.PargenPath, collect());
    });
}

} // namespace quillner
