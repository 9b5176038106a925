#include "gui/filters/filter20a_window.h"

#include "core/analysis/recording_test.h"
#include "core/app/int_parse.h"
#include "core/filters/filter_edits.h"
#include "gui/app/named_widgets.h"
#include "gui/app/report_saving.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/filters/identifier_map.h"
#include "gui/filters/live_bus_window.h"
#include "gui/filters/recording_test_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStringListModel>
#include <QVBoxLayout>

namespace quillner {

namespace {

// The texts of all identifiers in one base, made once: a refill then only shares them.
const QStringList& identifierTexts(NumberBase base)
{
    static const auto make = [](NumberBase b) {
        QStringList texts;
        texts.reserve(kStandardIdCount);
        for (int id = 0; id < kStandardIdCount; ++id)
            texts.append(standardIdText(id, b));
        return texts;
    };
    static const QStringList hexadecimal = make(NumberBase::Hexadecimal);
    static const QStringList decimal = make(NumberBase::Decimal);
    return base == NumberBase::Hexadecimal ? hexadecimal : decimal;
}

QListView* makeIdList(QWidget* parent, const char* name, QStringListModel* model)
{
    auto* list = new QListView(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setModel(model);
    // Shift and Ctrl pick many identifiers for one move; a click alone still picks one.
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every row has the same height, so 2048 rows are laid out without measuring each one.
    list->setUniformItemSizes(true);
    list->setFixedSize(130, 300);
    return list;
}

} // namespace

TFFilter::TFFilter(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FFilter"));
    setWindowTitle(QStringLiteral("Filter CAN 2.0A"));

    m_hiddenIds = new QStringListModel(this);
    m_visibleIds = new QStringListModel(this);
    m_hiddenList = makeIdList(this, "ListBox1", m_hiddenIds);
    m_visibleList = makeIdList(this, "ListBox2", m_visibleIds);
    auto* hiddenLabel = new QLabel(QStringLiteral("Hidden IDs:"), this);
    hiddenLabel->setObjectName(QStringLiteral("Label1"));
    hiddenLabel->setBuddy(m_hiddenList);
    auto* visibleLabel = new QLabel(QStringLiteral("Visible IDs:"), this);
    visibleLabel->setObjectName(QStringLiteral("Label2"));
    visibleLabel->setBuddy(m_visibleList);

    // ">>" and "<<" have no letter to underline: Alt and the arrow pointing the same way.
    auto* show = makeNamed<QPushButton>(this, "LbButton1", QStringLiteral(">>"));
    show->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    show->setToolTip(QStringLiteral("Make the selected hidden IDs visible (Alt+Right)"));
    auto* hide = makeNamed<QPushButton>(this, "LbButton2", QStringLiteral("<<"));
    hide->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    hide->setToolTip(QStringLiteral("Hide the selected visible IDs (Alt+Left)"));
    auto* all = makeNamed<QPushButton>(this, "LbButton3", QStringLiteral("&ALL"));
    all->setToolTip(QStringLiteral("Make all 2048 IDs visible"));
    auto* none = makeNamed<QPushButton>(this, "LbButton4", QStringLiteral("&NONE"));
    none->setToolTip(QStringLiteral("Hide all 2048 IDs"));
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    for (QPushButton* button : {show, hide, all, none})
        moves->addWidget(button);
    moves->addStretch();

    auto* strip = new QFrame(this);
    strip->setObjectName(QStringLiteral("Panel1"));
    strip->setFrameShape(QFrame::StyledPanel);
    m_hexadecimal = new QRadioButton(QStringLiteral("Hexadecimal"), strip);
    m_hexadecimal->setObjectName(QStringLiteral("RomanRadio1"));
    m_hexadecimal->setChecked(true);
    m_decimal = new QRadioButton(QStringLiteral("Decimal"), strip);
    m_decimal->setObjectName(QStringLiteral("RomanRadio2"));
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->addWidget(m_hexadecimal);
    stripLayout->addStretch();
    stripLayout->addWidget(m_decimal);

    // Identifiers in the notation of CAN tools, shown or hidden at once.
    m_idEntry = new QLineEdit(this);
    m_idEntry->setObjectName(QStringLiteral("IdEdit"));
    m_idEntry->setToolTip(
        QStringLiteral("IDs, ranges and id:mask pairs, for example 0x100-0x1FF, 0x7DF 1024 or "
                       "0x600:0x7F0 (0x600~0x7F0: every ID but those)"));
    m_idEntry->installEventFilter(this);
    auto* idLabel = new QLabel(QStringLiteral("&IDs:"), this);
    idLabel->setObjectName(QStringLiteral("Label3"));
    idLabel->setBuddy(m_idEntry);
    auto* showTyped = makeNamed<QPushButton>(this, "ShowIds", QStringLiteral("&Show"));
    showTyped->setToolTip(QStringLiteral("Make the typed IDs visible"));
    auto* hideTyped = makeNamed<QPushButton>(this, "HideIds", QStringLiteral("&Hide"));
    hideTyped->setToolTip(QStringLiteral("Hide the typed IDs"));
    m_visibleCount = new QLabel(this);
    m_visibleCount->setObjectName(QStringLiteral("VisibleCount"));
    auto* typed = new QHBoxLayout;
    typed->addWidget(idLabel);
    typed->addWidget(m_idEntry, 1);
    typed->addWidget(showTyped);
    typed->addWidget(hideTyped);

    // Every identifier at a glance, kept in step with the two lists.
    m_map = new IdentifierMap(this);
    auto* mapLabel = new QLabel(QStringLiteral("&Map of the 2048 IDs:"), this);
    mapLabel->setObjectName(QStringLiteral("MapLabel"));
    mapLabel->setBuddy(m_map);

    auto* testRecording =
        makeNamed<QPushButton>(this, "TestRecording", QStringLiteral("Test on &recording..."));
    testRecording->setAutoDefault(false);
    testRecording->setToolTip(
        QStringLiteral("Read a recording and see which of its frames this filter lets through"));
    auto* tools = new QHBoxLayout;
    tools->addStretch();
    tools->addWidget(testRecording);
    auto* liveBus = makeNamed<QPushButton>(this, "LiveBus", QStringLiteral("Live &bus..."));
    liveBus->setToolTip(QStringLiteral("Light the IDs heard on a CAN bus, passed or blocked"));
    tools->addWidget(liveBus);
    auto* report = makeNamed<QPushButton>(this, "SaveReport", QStringLiteral("Save re&port..."));
    report->setAutoDefault(false);
    report->setToolTip(QStringLiteral(
        "Save the configuration with this filter, and the last recording tested, as a page"));
    tools->addWidget(report);
    m_recordingTest = new RecordingTestWindow(this);

    auto* ok = makeNamed<QPushButton>(this, "bitbtn1", QStringLiteral("&OK"));
    ok->setDefault(true);
    auto* cancel = makeNamed<QPushButton>(this, "bitbtn2", QStringLiteral("&Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(m_visibleCount);

    auto* layout = new QGridLayout(this);
    layout->addWidget(hiddenLabel, 0, 0);
    layout->addWidget(visibleLabel, 0, 2);
    layout->addWidget(mapLabel, 0, 3);
    layout->addWidget(m_hiddenList, 1, 0);
    layout->addLayout(moves, 1, 1);
    layout->addWidget(m_visibleList, 1, 2);
    layout->addWidget(m_map, 1, 3, 4, 1, Qt::AlignLeft | Qt::AlignTop);
    // The map is taller than the lists: the room left goes below them.
    layout->setRowStretch(2, 1);
    layout->addWidget(strip, 3, 0, 1, 3);
    layout->addLayout(typed, 4, 0, 1, 3);
    layout->addLayout(buttons, 5, 0, 1, 3);
    layout->addLayout(tools, 5, 3);
    makeFixedToolWindow(this);
    applyWindowHabits(this);

    const auto handle = [this](QAbstractButton* button, void (TFFilter::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); });
    };
    handle(show, &TFFilter::showSelected);
    handle(hide, &TFFilter::hideSelected);
    handle(all, &TFFilter::showAll);
    handle(none, &TFFilter::hideAll);
    handle(m_hexadecimal, &TFFilter::refreshIdLists);
    handle(m_decimal, &TFFilter::refreshIdLists);
    handle(ok, &TFFilter::saveAndClose);
    connect(showTyped, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { setTypedVisibility(true); }); });
    connect(hideTyped, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { setTypedVisibility(false); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_map, &IdentifierMap::identifiersSet, this,
            [this](const QList<int>& ids, bool visible) {
                guarded(this, [&] { setMapVisibility(ids, visible); });
            });
    handle(testRecording, &TFFilter::testOnRecording);
    connect(liveBus, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            openLiveBusWindow(this,
                              [this] { return compileWithFilter(m_paths.PargenPath, m_filter); });
        });
    });
    handle(report, &TFFilter::saveReport);
}

void TFFilter::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { loadFilter(); });
}

void TFFilter::loadFilter()
{
    m_loaded.remember(m_paths.Filter20APath);
    Filter20ALoad loaded = loadFilter20A(m_paths.Filter20APath);
    m_filter = loaded.value;
    for (const Problem& problem : loaded.problems)
        reportError(this, problem.text);
    // Refilled after a failed reading too, so that the lists show what "OK" writes.
    refreshIdLists();
}

void TFFilter::refreshIdLists()
{
    const QStringList& texts = identifierTexts(displayBase());
    QStringList hidden;
    QStringList visible;
    for (int id = 0; id < kStandardIdCount; ++id)
        (m_filter.IdVisible[id] ? visible : hidden).append(texts[id]);
    m_hiddenIds->setStringList(hidden);
    m_visibleIds->setStringList(visible);
    m_visibleCount->setText(visibleCountText(int(visible.size())));
    m_map->setFilter(m_filter);
}

void TFFilter::moveSelected(const QListView* list, quint8 entry)
{
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return reportError(this, QStringLiteral("List index out of bounds (-1)"));
    for (const QModelIndex& index : selected) {
        const qint32 id = parseIntStrict(index.data().toString());
        m_filter.IdVisible.at(id) = entry;
    }
    refreshIdLists();
}

void TFFilter::showSelected()
{
    moveSelected(m_hiddenList, 1);
}

void TFFilter::hideSelected()
{
    moveSelected(m_visibleList, 0);
}

void TFFilter::showAll()
{
    m_filter.IdVisible.fill(1);
    refreshIdLists();
}

void TFFilter::hideAll()
{
    m_filter.IdVisible.fill(0);
    refreshIdLists();
}

void TFFilter::saveAndClose()
{
    // A document changed on disk since it was read is overwritten only when the user says so.
    const ProjectEdit edit(m_paths);
    if (!mayOverwrite(this, m_loaded)) {
        loadFilter();
        return;
    }
    edit.write(m_paths.Filter20APath, filter20ADocument(), m_filter);
    accept();
}

void TFFilter::setMapVisibility(const QList<int>& ids, bool visible)
{
    for (const int id : ids)
        m_filter.IdVisible.at(id) = visible ? 1 : 0;
    refreshIdLists();
}

void TFFilter::saveReport()
{
    saveReportAs(this, m_paths.ProjectDir, [this] {
        ConfigurationReport report = shownFilterReport(
            m_paths.ProjectDir, compileWithFilter(m_paths.PargenPath, m_filter), windowTitle());
        m_recordingTest->addLastTest(report);
        return Result<ConfigurationReport>{std::move(report), {}, {}};
    });
}

void TFFilter::testOnRecording()
{
    m_recordingTest->testChosenRecording(this, m_paths.ProjectDir, [this] {
        return compileWithFilter(m_paths.PargenPath, m_filter);
    });
}

void TFFilter::setTypedVisibility(bool visible)
{
    setVisibility(m_filter, wholeValue(parseIdSet(m_idEntry->text(), IdWidth::Standard)), visible);
    refreshIdLists();
}

bool TFFilter::eventFilter(QObject* watched, QEvent* event)
{
    // Return in the entry must not press "OK": the typed text is applied by its own buttons.
    if (watched == m_idEntry && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

NumberBase TFFilter::displayBase() const
{
    return m_decimal->isChecked() ? NumberBase::Decimal : NumberBase::Hexadecimal;
}

} // namespace quillner
