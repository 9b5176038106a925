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

template <typename Widget, typename... Args>
Widget* make(QWidget* parent, const char* name, Args&&... args)
{
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QWidget* buddy)
{
    auto* label = make<QLabel>(parent, name, caption);
    label->setBuddy(buddy);
    return label;
}

// No button but OK is a default button; Enter in an entry field adds its text, and only that
// (see eventFilter).
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = make<QPushButton>(parent, name, caption);
    button->setAutoDefault(false);
    return button;
}

QListWidget* makeList(QWidget* parent, const char* name)
{
    auto* list = make<QListWidget>(parent, name);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

void deleteSelected(QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

} // namespace

TFFilterExt::TFFilterExt(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FFilterExt"));
    setWindowTitle(QStringLiteral("Filter CAN 2.0B"));

    m_cobIdMode = make<QRadioButton>(this, "RB_COB_Filter", QStringLiteral("COB-ID Filter"));
    m_cobIdMode->setChecked(true);
    m_maskMode = make<QRadioButton>(this, "RB_Mask_Filter", QStringLiteral("Mask Filter"));
    // A group of their own: automatic exclusivity looks at every radio button of the window,
    // so clicking the checked mode again would otherwise clear it and leave no mode checked.
    auto* modeGroup = new QButtonGroup(this);
    modeGroup->addButton(m_cobIdMode);
    modeGroup->addButton(m_maskMode);
    auto* modes = new QHBoxLayout;
    modes->addWidget(m_cobIdMode);
    modes->addWidget(m_maskMode);
    modes->addStretch();

    // Both panels share one place; the one of the checked mode is shown.
    m_panels = new QStackedWidget(this);
    m_cobIdPanel = makeCobIdPanel();
    m_maskPanel = makeMaskPanel();
    m_panels->addWidget(m_cobIdPanel);
    m_panels->addWidget(m_maskPanel);

    auto* testRecording =
        makeButton(this, "TestRecording", QStringLiteral("Test on &recording..."));
    testRecording->setToolTip(
        QStringLiteral("Read a recording and see which of its frames this filter lets through"));
    m_recordingTest = new RecordingTestWindow(this);

    auto* ok = makeButton(this, "bitbtn1", QStringLiteral("&OK"));
    ok->setDefault(true);
    auto* cancel = makeButton(this, "bitbtn2", QStringLiteral("&Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(testRecording);
    auto* liveBus = makeButton(this, "LiveBus", QStringLiteral("Live &bus..."));
    liveBus->setToolTip(QStringLiteral("Count the frames of a CAN bus that meet each entry"));
    buttons->addWidget(liveBus);
    auto* report = makeButton(this, "SaveReport", QStringLiteral("Save re&port..."));
    report->setToolTip(QStringLiteral(
        "Save the configuration with this filter, and the last recording tested, as a page"));
    buttons->addWidget(report);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(modes);
    layout->addWidget(m_panels);
    layout->addLayout(buttons);
    makeFixedToolWindow(this);
    applyWindowHabits(this);

    const auto onChecked = [this](QRadioButton* button, void (TFFilterExt::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                guarded(this, [this, handler] { (this->*handler)(); });
        });
    };
    onChecked(m_cobIdMode, &TFFilterExt::showCobIdPanel);
    onChecked(m_maskMode, &TFFilterExt::showMaskPanel);
    // One toggle of "HEX" for every change of the base, either way.
    connect(m_hexBase, &QRadioButton::toggled, this,
            [this] { guarded(this, [this] { convertCobIdBase(); }); });
    connect(ok, &QPushButton::clicked, this, [this] { guarded(this, [this] { saveAndClose(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(testRecording, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { testOnRecording(); }); });
    connect(report, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { saveReport(); }); });
    connect(liveBus, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            openLiveBusWindow(this,
                              [this] { return compileWithFilter(m_paths.PargenPath, collect()); });
        });
    });
    showPatternTotal();
}

QWidget* TFFilterExt::makeCobIdPanel()
{
    auto* panel = make<QWidget>(this, "PCOBF");
    m_cobIdEntry = make<QLineEdit>(panel, "Edit1");
    m_cobIdEntry->setFixedWidth(120);
    m_cobIdEntry->setToolTip(QStringLiteral(
        "A 29-bit ID from 0 to 536870911: decimal (123), or hexadecimal after $, x or 0x "
        "($7B, 0x7B); or several: 0x100-0x10F, 0x200 0x18FEF100:0x1FFFFF00"));
    auto* fieldLabel = makeLabel(panel, "Label2", QStringLiteral("COB-ID:"), m_cobIdEntry);
    auto* add = makeButton(panel, "LbButton1", QStringLiteral("&ADD"));
    auto* remove = makeButton(panel, "LbButton2", QStringLiteral("&DELETE"));
    auto* fit = makeButton(panel, "FitPatterns", QStringLiteral("&Fit into patterns"));
    fit->setToolTip(QStringLiteral("Cover the listed IDs, or the typed ones while the list is "
                                   "empty, with at most 10 mask patterns"));
    m_cobIdList = makeList(panel, "ListBox1");
    m_cobIdList->setFixedSize(150, 220);
    auto* listLabel = makeLabel(panel, "Label3", QStringLiteral("COB-ID list:"), m_cobIdList);

    auto* type = make<QGroupBox>(panel, "RadioGroup2", QStringLiteral("Filter Type"));
    m_typePositive = make<QRadioButton>(type, "TypePositive", QStringLiteral("Type Positive"));
    m_typePositive->setChecked(true);
    m_typeNegative = make<QRadioButton>(type, "TypeNegative", QStringLiteral("Type Negative"));
    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(m_typePositive);
    typeLayout->addWidget(m_typeNegative);

    auto* base = make<QGroupBox>(panel, "RadioGroup1", QString());
    auto* dec = make<QRadioButton>(base, "DEC", QStringLiteral("DEC"));
    dec->setChecked(true);
    m_hexBase = make<QRadioButton>(base, "HEX", QStringLiteral("HEX"));
    auto* baseLayout = new QHBoxLayout(base);
    baseLayout->addWidget(dec);
    baseLayout->addWidget(m_hexBase);
    baseLayout->addStretch();

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(fieldLabel, 0, 0);
    grid->addWidget(listLabel, 0, 2);
    grid->addWidget(m_cobIdEntry, 1, 0);
    grid->addWidget(add, 1, 1);
    grid->addWidget(remove, 2, 1);
    grid->addWidget(type, 3, 0, 1, 2, Qt::AlignTop);
    grid->addWidget(fit, 4, 0, 1, 2, Qt::AlignTop);
    grid->addWidget(m_cobIdList, 1, 2, 5, 1);
    grid->addWidget(base, 6, 0, 1, 3);
    grid->setRowStretch(5, 1);

    connect(add, &QPushButton::clicked, this, [this] { guarded(this, [this] { addCobIds(); }); });
    m_addOnReturn.insert(m_cobIdEntry, add);
    m_cobIdEntry->installEventFilter(this);
    connect(remove, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { deleteCobId(); }); });
    connect(fit, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { fitPatternsToIds(); }); });
    return panel;
}

QWidget* TFFilterExt::makeMaskPanel()
{
    auto* panel = make<QWidget>(this, "PMaskF");
    const QFont font = patternFont();
    m_patternEntry = make<QLineEdit>(panel, "Edit2");
    m_patternEntry->setMaxLength(kPatternLength);
    m_patternEntry->setFont(font);
    const QString notation = QStringLiteral(
        "29 characters for bits 28 down to 0: 1 = the bit must be 1, 0 = it must be 0, "
        "x = either value");
    m_patternEntry->setToolTip(
        notation + QStringLiteral("; or an id:mask pair such as 0x18FEF100:0x1FFFFF00"));
    auto* fieldLabel = makeLabel(panel, "Label4", QStringLiteral("Pattern:"), m_patternEntry);
    auto* example = make<QLabel>(panel, "Label1", QStringLiteral("Ex. 111xxx1010"));
    auto* add = makeButton(panel, "LbButton4", QStringLiteral("&ADD"));
    auto* remove = makeButton(panel, "LbButton5", QStringLiteral("&DELETE"));
    m_patternList = makeList(panel, "ListBox2");
    m_patternList->setFont(font);
    m_patternList->setToolTip(notation);
    auto* listLabel = makeLabel(panel, "Label5", QStringLiteral("Pattern list:"), m_patternList);

    // Wide enough for a whole pattern in the field, and in the list beside the number of IDs it
    // passes and its scroll bar.
    const QFontMetrics metrics(font);
    const int patternWidth = metrics.horizontalAdvance(QString(kPatternLength, u'0'));
    m_patternEntry->setFixedWidth(patternWidth + 16);
    m_patternList->setFixedWidth(patternWidth +
                                 metrics.horizontalAdvance(QStringLiteral(" 536870912")) + 52);
    showPassedCounts(m_patternList);
    auto* countLabel = make<QLabel>(panel, "Label6", QStringLiteral("IDs passed"));
    m_patternTotal = make<QLabel>(panel, "PatternTotal", QString());
    m_patternTotal->setTextFormat(Qt::PlainText);
    const auto countChanged = [this] { showPatternTotal(); };
    connect(m_patternList->model(), &QAbstractItemModel::rowsInserted, this, countChanged);
    connect(m_patternList->model(), &QAbstractItemModel::rowsRemoved, this, countChanged);
    connect(m_patternList->model(), &QAbstractItemModel::modelReset, this, countChanged);

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(fieldLabel, 0, 0);
    grid->addWidget(m_patternEntry, 1, 0);
    grid->addWidget(add, 1, 1);
    grid->addWidget(example, 2, 0, Qt::AlignTop);
    grid->addWidget(remove, 2, 1);
    auto* listHeader = new QHBoxLayout;
    listHeader->addWidget(listLabel);
    listHeader->addStretch();
    listHeader->addWidget(countLabel);
    grid->addLayout(listHeader, 3, 0);
    grid->addWidget(m_patternList, 4, 0);
    grid->addWidget(m_patternTotal, 5, 0);
    grid->setColumnStretch(2, 1);

    connect(add, &QPushButton::clicked, this, [this] { guarded(this, [this] { addPattern(); }); });
    m_addOnReturn.insert(m_patternEntry, add);
    m_patternEntry->installEventFilter(this);
    connect(remove, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { deletePattern(); }); });
    return panel;
}

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
    const CobIdAddition added = quillner::addCobIds(before, m_cobIdEntry->text(), displayBase());
    m_cobIdList->addItems(added.entries.mid(before.size()));
    if (!added.refusal.isEmpty())
        showErrorMessage(this, added.refusal);
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
    const CobIdAddition added = quillner::addPattern(before, m_patternEntry->text());
    if (!added.refusal.isEmpty()) {
        showErrorMessage(this, added.refusal);
        return;
    }
    appendPattern(added.entries.last());
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
                          : termIdentifiers(parseIdTerms(m_cobIdEntry->text(), IdWidth::Extended),
                                            IdWidth::Extended, 1 << 20);
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
