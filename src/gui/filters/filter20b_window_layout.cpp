#include "gui/filters/filter20b_window.h"

#include "gui/app/named_widgets.h"
#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"
#include "gui/filters/live_bus_window.h"
#include "gui/filters/pattern_list_look.h"
#include "gui/filters/recording_test_window.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

// The window's controls and how they are laid out and connected; what they do is in
// filter20b_window.cpp.
namespace quillner {

namespace {

QListWidget* makeList(QWidget* parent, const char* name)
{
    auto* list = makeNamed<QListWidget>(parent, name);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

} // namespace

TFFilterExt::TFFilterExt(const AppPaths& paths, QWidget* parent) : QDialog(parent), m_paths(paths)
{
    setObjectName(QStringLiteral("FFilterExt"));
    setWindowTitle(QStringLiteral("Filter CAN 2.0B"));

    m_cobIdMode = makeNamed<QRadioButton>(this, "RB_COB_Filter", QStringLiteral("COB-ID Filter"));
    m_cobIdMode->setChecked(true);
    m_maskMode = makeNamed<QRadioButton>(this, "RB_Mask_Filter", QStringLiteral("Mask Filter"));
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
    auto* panel = makeNamed<QWidget>(this, "PCOBF");
    m_cobIdEntry = makeNamed<QLineEdit>(panel, "Edit1");
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

    auto* type = makeNamed<QGroupBox>(panel, "RadioGroup2", QStringLiteral("Filter Type"));
    m_typePositive = makeNamed<QRadioButton>(type, "TypePositive", QStringLiteral("Type Positive"));
    m_typePositive->setChecked(true);
    m_typeNegative = makeNamed<QRadioButton>(type, "TypeNegative", QStringLiteral("Type Negative"));
    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(m_typePositive);
    typeLayout->addWidget(m_typeNegative);

    auto* base = makeNamed<QGroupBox>(panel, "RadioGroup1", QString());
    auto* dec = makeNamed<QRadioButton>(base, "DEC", QStringLiteral("DEC"));
    dec->setChecked(true);
    m_hexBase = makeNamed<QRadioButton>(base, "HEX", QStringLiteral("HEX"));
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
    auto* panel = makeNamed<QWidget>(this, "PMaskF");
    const QFont font = patternFont();
    m_patternEntry = makeNamed<QLineEdit>(panel, "Edit2");
    m_patternEntry->setMaxLength(kPatternLength);
    m_patternEntry->setFont(font);
    const QString notation = QStringLiteral(
        "29 characters for bits 28 down to 0: 1 = the bit must be 1, 0 = it must be 0, "
        "x = either value");
    m_patternEntry->setToolTip(
        notation + QStringLiteral("; or an id:mask pair such as 0x18FEF100:0x1FFFFF00"));
    auto* fieldLabel = makeLabel(panel, "Label4", QStringLiteral("Pattern:"), m_patternEntry);
    auto* example = makeNamed<QLabel>(panel, "Label1", QStringLiteral("Ex. 111xxx1010"));
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
    auto* countLabel = makeNamed<QLabel>(panel, "Label6", QStringLiteral("IDs passed"));
    m_patternTotal = makeNamed<QLabel>(panel, "PatternTotal", QString());
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

} // namespace quillner
