#include "gui/tst_generate_firmware_fixture.h"

#include "core/app/error.h"
#include "core/app/profile_file.h"
#include "core/app/project_lock.h"
#include "core/bank/bank_decode.h"
#include "core/documents/general_parameters.h"
#include "gui/app/main_window.h"
#include "gui/firmware/generate_firmware_window.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace quillner;
using namespace quillner::testing;

// "Update Device" from the main window: the bank is compiled and written, then the Generate
// Firmware window merges it and starts the flashing tool.
class TestUpdateDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void updatesTheDeviceEndToEnd();
    void theCompileIsToldInTheFirmwareWindow();
    void unwritableBankEndsBeforeTheWindowOpens();
    void unreadableDocumentAsksWhetherToGoOn_data();
    void unreadableDocumentAsksWhetherToGoOn();
    void aBusyProjectIsWaitedForWithoutFreezing();

private:
    QString projectFile(const QString& name) const { return QDir(m_projectDir).filePath(name); }
    void pressUpdateDevice();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_exeDir;
    QString m_projectDir;
    std::unique_ptr<MessageRecorder> m_recorder;
    QStringList m_opened;
    QString m_outcome; // the Generate Firmware window's outcome once the update was pressed
    int m_port = 0;
    bool m_heldWhileShown = false;
};

void TestUpdateDevice::init()
{
#ifdef Q_OS_WIN
    QSKIP("The recording flashing tool is a shell script");
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_exeDir = QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("tool")));
    m_projectDir = QDir::toNativeSeparators(m_exeDir + QStringLiteral("/PROJECTS/Demo Line"));
    QVERIFY(QDir().mkpath(projectFile(QStringLiteral("bin"))));
    QVERIFY(QDir().mkpath(m_exeDir + QStringLiteral("/MASTER")));
    writeProfileString(QDir(m_exeDir).filePath(QStringLiteral("Quillner.ini")),
                       QStringLiteral("lastproj"), QStringLiteral("projectname"),
                       QStringLiteral("\\Demo Line"));
    saveGeneralParameters(projectFile(QStringLiteral("pargen.xml")), GeneralParameters{});
    writeTestFirmware(m_exeDir + QStringLiteral("/MASTER/SX51804.sx"));
    QVERIFY(writeRecordingFlasher(m_exeDir));

    m_recorder = std::make_unique<MessageRecorder>();
    m_opened.clear();
    // The Generate Firmware window runs as a user would drive it: shown, the update pressed
    // on the chosen port, closed.
    setDialogRunner([this](QDialog* dialog) {
        m_opened << dialog->objectName();
        if (dialog->objectName() == QLatin1String("FModifyFileSx")) {
            dialog->show();
            dialog->findChild<QComboBox*>(QStringLiteral("cbport"))->setCurrentIndex(m_port);
            auto* firmware = static_cast<TFModifyFileSx*>(dialog);
            QSignalSpy ended(firmware, &TFModifyFileSx::pressEnded);
            dialog->findChild<QPushButton*>(QStringLiteral("LbButton2"))->click();
            if (!ended.wait(30000))
                qFatal("the press never ended");
            m_outcome = firmware->outcomeText();
            // The pass has ended, the window is open: the run still holds the project.
            try {
                ProjectLock(m_projectDir, std::chrono::milliseconds::zero());
                m_heldWhileShown = false;
            } catch (const Error&) {
                m_heldWhileShown = true;
            }
            dialog->findChild<QPushButton*>(QStringLiteral("LbButton1"))->click();
        }
        return int(QDialog::Rejected);
    });
}

void TestUpdateDevice::cleanup()
{
    setDialogRunner({});
    m_recorder.reset();
    m_dir.reset();
}

void TestUpdateDevice::pressUpdateDevice()
{
    TFmain window(m_exeDir);
    QVERIFY(window.projectRestored());
    QSignalSpy ended(&window, &TFmain::updateEnded);
    window.findChild<QPushButton*>(QStringLiteral("CreateBin"))->click();
    QVERIFY(ended.wait(30000));
}

void TestUpdateDevice::updatesTheDeviceEndToEnd()
{
    m_port = 4;
    pressUpdateDevice();

    QCOMPARE(m_recorder->messages, QList<RecordedMessage>());
    QCOMPARE(m_opened, QStringList{QStringLiteral("FModifyFileSx")});
    const QByteArray bank = readFile(projectFile(QStringLiteral("bin/bank1.bin")));
    QCOMPARE(bank.size(), kBankSize);
    QCOMPARE(bank.left(5), QByteArray::fromHex("0700000600"));
    QCOMPARE(bank.mid(100, 256), QByteArray(256, char(0xFF)));
    QCOMPARE(QFileInfo(projectFile(QStringLiteral("bin/bankg.c"))).size(), 117824);

    const QString merged = projectFile(QStringLiteral("New_SX51804.sx"));
    const ConfigurationBank flashed = readBankFile(merged).value;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flashed.data()), kBankSize), bank);
    const QStringList record = flasherRecord(m_exeDir);
    QCOMPARE(record.mid(0, 2), QStringList({merged, QStringLiteral("4")}));
    QVERIFY(m_heldWhileShown);
    // Closed, the window ended the run, which let the project go.
    ProjectLock after(m_projectDir, std::chrono::milliseconds::zero());
}

// The compile ran before the window opened: the window tells it first, with its warnings, then
// the merge and the flasher.
void TestUpdateDevice::theCompileIsToldInTheFirmwareWindow()
{
    m_port = 1;
    pressUpdateDevice();
    const QStringList lines = m_outcome.split(u'\n');
    QVERIFY2(lines.size() >= 5, qPrintable(m_outcome));
    QCOMPARE(lines[0], QStringLiteral("Compiled: %1 and bankg.c written")
                           .arg(projectFile(QStringLiteral("bin/bank1.bin"))));
    QCOMPARE(lines[1], QStringLiteral("1 warning:"));
    QCOMPARE(lines[2], QStringLiteral("  Filter20A.xml: not found (no 2.0A filter saved yet); the "
                                      "device lets every identifier through"));
    QCOMPARE(lines[3], QStringLiteral("Merged and verified: ") +
                           projectFile(QStringLiteral("New_SX51804.sx")));
    QVERIFY2(lines[4].startsWith(QStringLiteral("Flasher started: ")), qPrintable(lines[4]));
    QVERIFY2(lines[4].endsWith(QStringLiteral(", port COM2")), qPrintable(lines[4]));
    QVERIFY(QFile::exists(QDir(m_exeDir).filePath(kFlasherRecordName)));
}

void TestUpdateDevice::unwritableBankEndsBeforeTheWindowOpens()
{
    // A missing bin folder is made (a project cloned from git has none); one that is no folder
    // cannot take the bank.
    QVERIFY(QDir(projectFile(QStringLiteral("bin"))).removeRecursively());
    QVERIFY(writeFile(projectFile(QStringLiteral("bin")), "not a folder"));
    pressUpdateDevice();

    QCOMPARE(m_recorder->messages.size(), 1);
    QCOMPARE(m_recorder->messages[0].kind, MessageKind::Error);
    QVERIFY2(m_recorder->messages[0].text.startsWith(
                 QStringLiteral("Cannot create file \"") +
                 QDir::toNativeSeparators(projectFile(QStringLiteral("bin/bank1.bin")))),
             qPrintable(m_recorder->messages[0].text));
    QCOMPARE(m_opened, QStringList());
    QCOMPARE(readFile(projectFile(QStringLiteral("bin"))), QByteArray("not a folder"));
    QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
}

void TestUpdateDevice::unreadableDocumentAsksWhetherToGoOn_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("No, the default, stops before anything is written") << false;
    QTest::newRow("Yes goes on with the bank as read") << true;
}

void TestUpdateDevice::unreadableDocumentAsksWhetherToGoOn()
{
    QFETCH(bool, answer);
    QVERIFY(writeFile(projectFile(QStringLiteral("pargen.xml")),
                      "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>abc</Ser_Par>"
                      "</General_Parameter>\r\n"));
    m_recorder->answer = answer;
    pressUpdateDevice();

    // One question, naming the document and the element where the reading stopped.
    QCOMPARE(m_recorder->messages.size(), 1);
    QCOMPARE(m_recorder->messages[0].kind, MessageKind::Question);
    const QString text = m_recorder->messages[0].text;
    QVERIFY2(text.contains(QStringLiteral("pargen.xml, Ser_Par: 'abc' is not a valid integer")),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("Go on and build the firmware with this bank?")),
             qPrintable(text));
    if (!answer) {
        QCOMPARE(m_opened, QStringList());
        QCOMPARE(
            QDir(projectFile(QStringLiteral("bin")))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System),
            QStringList());
        QVERIFY(!QFile::exists(projectFile(QStringLiteral("New_SX51804.sx"))));
        return;
    }
    // The build went on: the bank holds what was read, and the window opened.
    QCOMPARE(readFile(projectFile(QStringLiteral("bin/bank1.bin"))).left(2),
             QByteArray::fromHex("0700"));
    QCOMPARE(m_opened, QStringList{QStringLiteral("FModifyFileSx")});
    QVERIFY(QFile::exists(QDir(m_exeDir).filePath(kFlasherRecordName)));
}

// Another holder of the project's lock (another Quillner updating it): the window says it waits
// and stays usable; once the lock is let go the update goes on, the lock held by the run until
// the Generate Firmware window is closed.
void TestUpdateDevice::aBusyProjectIsWaitedForWithoutFreezing()
{
    m_port = 2;
    auto other = std::make_unique<ProjectLock>(m_projectDir);
    TFmain window(m_exeDir);
    QSignalSpy waits(&window, &TFmain::updateWaitsForLock);
    QSignalSpy ended(&window, &TFmain::updateEnded);
    window.findChild<QPushButton*>(QStringLiteral("CreateBin"))->click();
    QVERIFY(waits.wait(30000));
    // The GUI thread is free: it has run the wait's signal, and shows the wait.
    const auto* status = window.findChild<QLabel*>(QStringLiteral("UpdateStatus"));
    QVERIFY(!status->isHidden());
    QCOMPARE(status->text(),
             QStringLiteral("Waiting for Demo Line: another Quillner is updating it"));
    QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("CreateBin"))->isEnabled());
    QCOMPARE(m_opened, QStringList());
    QVERIFY(!QFile::exists(projectFile(QStringLiteral("bin/bank1.bin"))));

    other.reset();
    QVERIFY(ended.wait(30000));
    QCOMPARE(m_recorder->messages, QList<RecordedMessage>());
    QCOMPARE(m_opened, QStringList{QStringLiteral("FModifyFileSx")});
    QVERIFY2(m_outcome.contains(QStringLiteral("Merged and verified: ")), qPrintable(m_outcome));
    QCOMPARE(flasherRecord(m_exeDir).mid(0, 2),
             QStringList({projectFile(QStringLiteral("New_SX51804.sx")), QStringLiteral("2")}));
    QVERIFY(status->isHidden());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("CreateBin"))->isEnabled());
    // The run let the project go when it ended.
    ProjectLock after(m_projectDir, std::chrono::milliseconds::zero());
}

QTEST_MAIN(TestUpdateDevice)
#include "tst_update_device.moc"
