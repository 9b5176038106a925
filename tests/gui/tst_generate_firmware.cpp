#include "gui/tst_generate_firmware_fixture.h"

#include "core/app/app_paths.h"
#include "core/app/project_layout.h"
#include "core/bank/bank_decode.h"
#include "core/firmware/srec_merge.h"
#include "gui/firmware/generate_firmware_window.h"
#include "support/report_reading.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace quillner;
using namespace quillner::testing;

namespace {

QByteArray sampleBank()
{
    QByteArray bank(kBankSize, '\0');
    for (int i = 0; i < kBankSize; ++i)
        bank[i] = char(i * 7 + 3);
    return bank;
}

} // namespace

class TestGenerateFirmware : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void looksAsDescribed();
    void aDisabledButtonLooksDisabled();
    void missingFirmwareDisablesTheUpdate();
    void flashesTheMergedFileOnTheChosenPort_data();
    void flashesTheMergedFileOnTheChosenPort();
    void stoppedMergeNeverFlashesAnOlderFile();
    void forgetsTheBinFolderOfAnEarlierProject();
    void deletesLeftoverBankRecordFiles();
    void outcomeTellsEachStage_data();
    void outcomeTellsEachStage();
    void outcomeTellsWhyTheUpdateIsNotReady();
    void flasherVerdictHasItsOwnLine();
    void flasherVerdictIsShownWhenItEnds_data();
    void flasherVerdictIsShownWhenItEnds();
    void aFlasherAtWorkOutlivesTheWindow();
    void aPressWhileTheFlasherWritesMergesNothing();
    void savesTheProjectsReport();

private:
    QString projectFile(const QString& name) const
    {
        return QDir(m_paths.ProjectDir).filePath(name);
    }
    QString mergedPath() const { return projectFile(QStringLiteral("New_SX51804.sx")); }
    QPushButton* button(const char* name) const
    {
        return m_window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QComboBox* ports() const { return m_window->findChild<QComboBox*>(QStringLiteral("cbport")); }
    QLabel* verdict() const
    {
        return m_window->findChild<QLabel*>(QStringLiteral("FlasherVerdict"));
    }
    QProgressBar* progress() const
    {
        return m_window->findChild<QProgressBar*>(QStringLiteral("Avanzamento"));
    }
    // Shown, once the run it starts has planned the update.
    bool showWindow() const
    {
        QSignalSpy planned(m_window.get(), &TFModifyFileSx::planShown);
        m_window->show();
        return planned.wait(30000);
    }
    // "Execute update firmware" pressed, once its pass has ended.
    bool press() const
    {
        QSignalSpy ended(m_window.get(), &TFModifyFileSx::pressEnded);
        button("LbButton2")->click();
        return ended.wait(30000);
    }
    // A stand-in flashing tool that writes until the test lets it end (release), then runs
    // then.
    QString writeHeldFlasher(const QByteArray& then = {}) const
    {
        const QString fifo = m_dir->filePath(QStringLiteral("release"));
        if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
            return {};
        const QString flasher = QDir(m_paths.ExeDir).filePath(QStringLiteral("Morvex.exe"));
        if (!writeFile(flasher,
                       "#!/bin/sh\nread line < '" + QFile::encodeName(fifo) + "'\n" + then + "\n"))
            return {};
        return fifo;
    }
    static bool release(const QString& fifo)
    {
        QFile held(fifo);
        return held.open(QIODevice::WriteOnly) && held.write("go\n") == 3;
    }
    // The verdict as it is read: its whole text within its lines, in its colour.
    void checkVerdict(const QString& text, const QColor& colour) const
    {
        QVERIFY(verdict()->isVisible());
        QCOMPARE(verdict()->text(), text);
        QVERIFY(verdict()->wordWrap());
        QVERIFY2(verdict()->heightForWidth(verdict()->width()) <= verdict()->height(),
                 "the verdict is cut");
        QCOMPARE(verdict()->palette().color(QPalette::WindowText), colour);
    }
    // A failed press leaves no full bar behind: it is empty and says so.
    void checkProgress(bool failed) const
    {
        QCOMPARE(progress()->isTextVisible(), failed);
        if (failed) {
            QCOMPARE(progress()->value(), progress()->minimum());
            QCOMPARE(progress()->text(), QStringLiteral("Failed"));
        } else {
            QCOMPARE(progress()->value(), progress()->maximum());
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    AppPaths m_paths;
    std::unique_ptr<TFModifyFileSx> m_window;
    std::unique_ptr<MessageRecorder> m_recorder;
};

void TestGenerateFirmware::init()
{
#ifdef Q_OS_WIN
    QSKIP("The recording flashing tool is a shell script");
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString exeDir = m_dir->filePath(QStringLiteral("Quillner Tool"));
    QVERIFY(QDir().mkpath(exeDir));
    ResolveAppPaths(m_paths, exeDir);
    m_paths.ProjectName = QStringLiteral("/Line 1");
    m_paths.ProjectDir = QDir::toNativeSeparators(m_paths.ProjectsDir + QStringLiteral("/Line 1"));
    SetDocumentPaths(m_paths);
    QVERIFY(QDir().mkpath(projectFile(QStringLiteral("bin"))));
    QVERIFY(writeFile(projectFile(QStringLiteral("bin/bank1.bin")), sampleBank()));
    writeTestFirmware(QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx")));
    QVERIFY(writeRecordingFlasher(m_paths.ExeDir));

    m_recorder = std::make_unique<MessageRecorder>();
    m_window = std::make_unique<TFModifyFileSx>(m_paths);
}

void TestGenerateFirmware::cleanup()
{
    m_window.reset();
    m_recorder.reset();
    m_dir.reset();
}

void TestGenerateFirmware::looksAsDescribed()
{
    QVERIFY(showWindow());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Generate Firmware"));
    QCOMPARE(m_window->width(), 430);
    QCOMPARE(m_window->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(m_window->font().pointSize(), 8);
    QCOMPARE(m_window->palette().color(QPalette::Window), QColor(248, 247, 237));
    QCOMPARE(m_window->palette().color(QPalette::WindowText), QColor(51, 51, 51));
    QVERIFY(!(m_window->windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(shownText(button("LbButton1")), QStringLiteral("X"));
    QCOMPARE(shownText(button("LbButton2")), QStringLiteral("Execute update firmware"));
    QVERIFY(button("LbButton2")->isEnabled());
    QStringList items;
    for (int i = 0; i < ports()->count(); ++i)
        items << ports()->itemText(i);
    QCOMPARE(items, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    QVERIFY(m_window->findChild<QProgressBar*>(QStringLiteral("Avanzamento")));
    // The bar closes the window below the verdict's lines.
    const QWidget* bottomBar = m_window->findChild<QWidget*>(QStringLiteral("Shape1"));
    QCOMPARE(bottomBar->geometry().bottom(), m_window->height() - 1);
    QVERIFY(verdict()->geometry().bottom() < bottomBar->geometry().top());
    QCOMPARE(m_window->firmwareName(), QStringLiteral("SX51804.sx"));
    QCOMPARE(m_window->newFirmwareName(), QStringLiteral("New_SX51804.sx"));
    QCOMPARE(m_window->outputFolder(), m_paths.ProjectDir + QDir::separator());
    QCOMPARE(m_window->binFolder(), projectFile(QStringLiteral("bin")) + QDir::separator());
    QCOMPARE(QDir::current(), QDir(m_paths.MasterDir));
    QVERIFY(m_recorder->messages.isEmpty());
}

// The window's own text colour is for what can be used: a button that cannot be pressed keeps
// the style's colour of disabled text.
void TestGenerateFirmware::aDisabledButtonLooksDisabled()
{
    QVERIFY(showWindow());
    QPushButton* execute = button("LbButton2");
    const QPalette look = execute->palette();
    QVERIFY(look.color(QPalette::Disabled, QPalette::ButtonText) !=
            look.color(QPalette::Active, QPalette::ButtonText));
    QCOMPARE(look.color(QPalette::Disabled, QPalette::ButtonText),
             QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText));
    const QImage enabled = execute->grab().toImage();
    execute->setEnabled(false);
    const QImage disabled = execute->grab().toImage();
    // The caption's pixels change colour, not only the frame's.
    int changed = 0;
    for (int y = 0; y < enabled.height(); ++y)
        for (int x = 0; x < enabled.width(); ++x)
            changed += enabled.pixel(x, y) != disabled.pixel(x, y);
    QVERIFY2(changed > enabled.width() * enabled.height() / 10,
             qPrintable(QString::number(changed)));
}

void TestGenerateFirmware::missingFirmwareDisablesTheUpdate()
{
    QVERIFY(QFile::remove(QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx"))));
    QVERIFY(showWindow());
    QCOMPARE(m_recorder->messages,
             QList<RecordedMessage>(
                 {{MessageKind::Error,
                   "Error file SX51804.sx not found\nLooked for " +
                       QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx"))}}));
    QVERIFY(!button("LbButton2")->isEnabled());
    QVERIFY(m_window->isVisible());
    button("LbButton1")->click();
    QVERIFY(!m_window->isVisible());
}

void TestGenerateFirmware::flashesTheMergedFileOnTheChosenPort_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("portIndex");
    QTest::addColumn<bool>("trailingSeparator");
    QTest::newRow("COM1") << "COM1"
                          << "0" << false;
    QTest::newRow("COM3") << "COM3"
                          << "2" << false;
    QTest::newRow("COM8") << "COM8"
                          << "7" << false;
    QTest::newRow("project folder ending in a separator") << "COM2"
                                                          << "1" << true;
}

void TestGenerateFirmware::flashesTheMergedFileOnTheChosenPort()
{
    QFETCH(QString, port);
    QFETCH(QString, portIndex);
    QFETCH(bool, trailingSeparator);
    const QString merged = mergedPath();
    if (trailingSeparator)
        m_paths.ProjectDir += QDir::separator();

    QSignalSpy started(m_window.get(), &TFModifyFileSx::flasherStarted);
    QVERIFY(showWindow());
    ports()->setCurrentIndex(ports()->findText(port));
    QVERIFY(press());

    QCOMPARE(m_recorder->messages, QList<RecordedMessage>());
    QCOMPARE(started.count(), 1);
    // The path with its blank arrives as one argument; the port index is its own argument.
    QCOMPARE(flasherRecord(m_paths.ExeDir),
             QStringList({merged, portIndex, QStringLiteral("cwd=") + m_paths.MasterDir}));
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))), sampleBank());
    const ConfigurationBank flashed = readBankFile(merged).value;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flashed.data()), kBankSize), sampleBank());
    const auto* progress = m_window->findChild<QProgressBar*>(QStringLiteral("Avanzamento"));
    QVERIFY(progress->maximum() > 512);
    QCOMPARE(progress->value(), progress->maximum());

    // The next showing starts again from COM1 and an empty bar.
    button("LbButton1")->click();
    QVERIFY(showWindow());
    QCOMPARE(ports()->currentText(), QStringLiteral("COM1"));
    QCOMPARE(progress->value(), 0);
}

// The window shows what the firmware job decides; the job's table of accepted and refused
// merges is in the core tests. This is one refusal through the window.
void TestGenerateFirmware::stoppedMergeNeverFlashesAnOlderFile()
{
    QVERIFY(writeFile(mergedPath(), "S0 from an earlier merge\r\n"));
    QVERIFY(QFile::remove(projectFile(QStringLiteral("bin/bank1.bin"))));

    QSignalSpy started(m_window.get(), &TFModifyFileSx::flasherStarted);
    QVERIFY(showWindow());
    QVERIFY(press());

    QCOMPARE(
        m_recorder->messages,
        QList<RecordedMessage>({{MessageKind::Plain, "File bank1.bin Not Found,Abort Procedure"}}));
    QCOMPARE(started.count(), 0);
    QVERIFY(!QFile::exists(QDir(m_paths.ExeDir).filePath(kFlasherRecordName)));
}

void TestGenerateFirmware::forgetsTheBinFolderOfAnEarlierProject()
{
    QVERIFY(showWindow());
    button("LbButton1")->click();

    m_paths.ProjectDir = QDir::toNativeSeparators(m_paths.ProjectsDir + QStringLiteral("/Line 2"));
    SetDocumentPaths(m_paths);
    QVERIFY(QDir().mkpath(m_paths.ProjectDir));
    QSignalSpy started(m_window.get(), &TFModifyFileSx::flasherStarted);
    QVERIFY(showWindow());
    QCOMPARE(m_window->binFolder(), QString());
    QVERIFY(press());

    QCOMPARE(
        m_recorder->messages,
        QList<RecordedMessage>({{MessageKind::Plain, "Directory Bin Not Found,Abort Procedure"}}));
    QCOMPARE(started.count(), 0);
    QVERIFY(!QFile::exists(mergedPath()));
}

void TestGenerateFirmware::deletesLeftoverBankRecordFiles()
{
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx", "B6.sx"})
        QVERIFY(writeFile(projectFile(QString::fromLatin1(name)), "S9030000FC\r\n"));
    QVERIFY(showWindow());
    QVERIFY(press());
    for (const char* name : {"B1.sx", "B2.sx", "B3.sx", "B4.sx", "B5.sx"})
        QVERIFY2(!QFile::exists(projectFile(QString::fromLatin1(name))), name);
    QVERIFY(QFile::exists(projectFile(QStringLiteral("B6.sx"))));
    // The tool was started as well, and has ended.
    QVERIFY(QFile::exists(QDir(m_paths.ExeDir).filePath(kFlasherRecordName)));
}

void TestGenerateFirmware::outcomeTellsEachStage_data()
{
    QTest::addColumn<QString>("change"); // what is taken away before the update
    QTest::addColumn<QStringList>("expected");
    // Below the outcome: the tool's own verdict in green, or why there is none in red.
    QTest::addColumn<QString>("verdict");
    const QString merged = QStringLiteral("Merged and verified: %1");
    QTest::newRow("flashed") << ""
                             << QStringList{merged, QStringLiteral("Flasher started: %2, process "),
                                            QStringLiteral(", port COM3")}
                             << "Flasher verdict: Morvex.exe ended with status 0";
    QTest::newRow("no flashing tool")
        << "Morvex.exe"
        << QStringList{merged, QStringLiteral("Flasher not started: Morvex.exe not found in %3")}
        << "Flasher not started: Morvex.exe not found in %3";
    QTest::newRow("no bank file")
        << "bin/bank1.bin"
        << QStringList{QStringLiteral("Not merged:\n  File bank1.bin Not Found,Abort Procedure"),
                       QStringLiteral("Flasher not started: the merge did not complete the new "
                                      "file")}
        << "Not merged:\nFile bank1.bin Not Found,Abort Procedure";
}

// Below the bar, each stage says how it ended: the bar alone is full whether the flashing tool
// started or not.
void TestGenerateFirmware::outcomeTellsEachStage()
{
    QFETCH(QString, change);
    QFETCH(QStringList, expected);
    QFETCH(QString, verdict);
    if (change == QLatin1String("Morvex.exe"))
        QVERIFY(QFile::remove(QDir(m_paths.ExeDir).filePath(change)));
    else if (!change.isEmpty())
        QVERIFY(QFile::remove(projectFile(change)));
    QVERIFY(showWindow());
    ports()->setCurrentIndex(2);
    QVERIFY(press());

    const QString text = m_window->outcomeText();
    const QString flasher = QDir(m_paths.ExeDir).filePath(QStringLiteral("Morvex.exe"));
    for (QString part : expected) {
        part.replace(QStringLiteral("%1"), mergedPath())
            .replace(QStringLiteral("%2"), flasher)
            .replace(QStringLiteral("%3"), m_paths.ExeDir);
        QVERIFY2(text.contains(part), qPrintable(text + QStringLiteral("\n-- lacks --\n") + part));
    }
    QVERIFY(m_window->findChild<QWidget*>(QStringLiteral("Outcome"))->isVisible());
    const bool flashed = change.isEmpty();
    checkVerdict(verdict.replace(QStringLiteral("%3"), m_paths.ExeDir),
                 flashed ? QColor(0, 110, 0) : QColor(176, 0, 0));
    checkProgress(!flashed);
}

void TestGenerateFirmware::outcomeTellsWhyTheUpdateIsNotReady()
{
    QVERIFY(QFile::remove(QDir(m_paths.MasterDir).filePath(QStringLiteral("SX51804.sx"))));
    QVERIFY(showWindow());
    QVERIFY2(m_window->outcomeText().startsWith(
                 QStringLiteral("Not ready:\nError file SX51804.sx not found")),
             qPrintable(m_window->outcomeText()));
}

// The flashing tool's verdict has a line of its own, empty until something tells it.
void TestGenerateFirmware::flasherVerdictHasItsOwnLine()
{
    QVERIFY(showWindow());
    auto* verdict = m_window->findChild<QLabel*>(QStringLiteral("FlasherVerdict"));
    QVERIFY(verdict);
    QVERIFY(!verdict->isVisible());
    m_window->showFlasherVerdict(QStringLiteral("device written, 16384 bytes checked"), true);
    QVERIFY(verdict->isVisible());
    QCOMPARE(verdict->text(),
             QStringLiteral("Flasher verdict: device written, 16384 bytes checked"));
    // The next press starts without the verdict of the last one.
    QSignalSpy ended(m_window.get(), &TFModifyFileSx::pressEnded);
    button("LbButton2")->click();
    QVERIFY(!verdict->isVisible());
    QVERIFY(ended.wait(30000));
}

// The tool is watched, not waited for: its output joins the outcome as it comes, and its verdict
// gets its line when it ends.
void TestGenerateFirmware::flasherVerdictIsShownWhenItEnds_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<bool>("failed");
    // More lines than the outcome shows at once: it follows them to the last.
    const QByteArray progress = "echo writing; i=0; while [ $i -lt 20 ]; do echo block $i; "
                                "i=$((i+1)); done; ";
    QTest::newRow("flashed") << progress + "echo verified; exit 0"
                             << "Flasher verdict: Morvex.exe ended with status 0: verified"
                             << false;
    QTest::newRow("port busy") << progress + "echo 'port COM1 busy' >&2; exit 1"
                               << "Flasher verdict: Morvex.exe failed with status 1: port COM1 busy"
                               << true;
    const QString silent = QStringLiteral(
        "no answer from the device on COM1 after 3 attempts; check the cable, the power of the "
        "device and that no other program holds the port");
    QTest::newRow("a verdict longer than a line")
        << progress + "echo '" + silent.toUtf8() + "' >&2; exit 2"
        << "Flasher verdict: Morvex.exe failed with status 2: " + silent << true;
}

void TestGenerateFirmware::flasherVerdictIsShownWhenItEnds()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, verdict);
    QFETCH(bool, failed);
    const QString flasher = QDir(m_paths.ExeDir).filePath(QStringLiteral("Morvex.exe"));
    QVERIFY(writeFile(flasher, "#!/bin/sh\n" + script + "\n"));
    QVERIFY(showWindow());
    QVERIFY(press());
    checkVerdict(verdict, failed ? QColor(176, 0, 0) : QColor(0, 110, 0));
    checkProgress(failed);
    QVERIFY2(m_window->outcomeText().contains(QStringLiteral("\n  writing")),
             qPrintable(m_window->outcomeText()));
    QVERIFY2(m_window->outcomeText().endsWith(QStringLiteral("\n  block 19\n  ") +
                                              verdict.section(u':', 2).trimmed()),
             qPrintable(m_window->outcomeText()));
    const QScrollBar* scroll =
        m_window->findChild<QPlainTextEdit*>(QStringLiteral("Outcome"))->verticalScrollBar();
    QVERIFY(scroll->maximum() > 0);
    QCOMPARE(scroll->value(), scroll->maximum());
    QVERIFY(!m_window->flasherRunning());
}

// A tool writing a device is never killed with the window: it goes on and ends by itself.
void TestGenerateFirmware::aFlasherAtWorkOutlivesTheWindow()
{
    const QString done = QDir(m_paths.ExeDir).filePath(QStringLiteral("flashed.txt"));
    const QString held = writeHeldFlasher("touch '" + QFile::encodeName(done) + "'");
    QVERIFY(!held.isEmpty());
    QVERIFY(showWindow());
    QSignalSpy started(m_window.get(), &TFModifyFileSx::flasherStarted);
    button("LbButton2")->click();
    QVERIFY(started.wait(30000));
    QVERIFY(m_window->flasherRunning());
    m_window.reset();
    QVERIFY(release(held));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(done), 30000);
}

// The tool reads the merged file while it writes the device: a second press leaves that file be.
void TestGenerateFirmware::aPressWhileTheFlasherWritesMergesNothing()
{
    const QString held = writeHeldFlasher();
    QVERIFY(!held.isEmpty());
    QVERIFY(showWindow());
    QSignalSpy started(m_window.get(), &TFModifyFileSx::flasherStarted);
    button("LbButton2")->click();
    QVERIFY(started.wait(30000));
    QVERIFY(m_window->flasherRunning());
    const QString outcome = m_window->outcomeText();
    QVERIFY(QFile::remove(mergedPath()));
    button("LbButton2")->click();
    QVERIFY(!QFile::exists(mergedPath()));
    QCOMPARE(m_window->outcomeText(), outcome);
    QCOMPARE(
        m_recorder->messages,
        QList<RecordedMessage>(
            {{MessageKind::Plain, "Morvex.exe is still writing the device; wait for its end"}}));
    QSignalSpy ended(m_window.get(), &TFModifyFileSx::pressEnded);
    QVERIFY(release(held));
    QVERIFY(ended.wait(30000));
    QVERIFY(!m_window->flasherRunning());
}

void TestGenerateFirmware::savesTheProjectsReport()
{
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>3</Ser_Baud><Ser_Par>2</Ser_Par><Can_Type>0"
                      "</Can_Type><Can_Baud>6</Can_Baud><Can_Enable_RTR>1</Can_Enable_RTR>"
                      "</General_Parameter>\r\n"));
    QStringList suggested;
    setFileChooser([&](QWidget*, FileChoice, const QString&, const QString& start,
                       const QString&) -> std::optional<QString> {
        suggested << start;
        return start;
    });
    QVERIFY(showWindow());
    button("SaveReport")->click();
    setFileChooser({});
    QCOMPARE(suggested, QStringList{projectFile(QStringLiteral("report.html"))});
    const ReadReport read = readReport(readFile(projectFile(QStringLiteral("report.html"))));
    QCOMPARE(read.error, QString());
    QCOMPARE(read.settings.value(QStringLiteral("serial.baud")), QStringLiteral("9600"));
    QCOMPARE(read.settings.value(QStringLiteral("serial.parity")), QStringLiteral("even"));
    QCOMPARE(read.settings.value(QStringLiteral("can.baud")), QStringLiteral("500"));
    QCOMPARE(read.settings.value(QStringLiteral("can.rtr")), QStringLiteral("on"));
    QCOMPARE(read.filter.value(QStringLiteral("filter.identifierCount")), QStringLiteral("2048"));
    QCOMPARE(
        m_recorder->messages,
        QList<RecordedMessage>({{MessageKind::Plain, "Report written: " + suggested.first()}}));
}

QTEST_MAIN(TestGenerateFirmware)
#include "tst_generate_firmware.moc"
