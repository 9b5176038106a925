#include "browser_support.h"
#include "gui_support.h"
#include "tst_generate_firmware_fixture.h"

#include "core/analysis/configuration_report.h"
#include "core/documents/new_project.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter_edits.h"
#include "gui/app/main_window.h"
#include "gui/filters/filter20a_window.h"
#include "gui/filters/identifier_map.h"
#include "gui/filters/recording_test_window.h"
#include "gui/firmware/generate_firmware_window.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace quillner;
using namespace quillner::testing;

namespace {

// What the X server shows of the window, as a user would see it.
QImage photograph(QWidget* window)
{
    QCoreApplication::processEvents();
    return window->screen()->grabWindow(window->winId()).toImage();
}

void keep(const QImage& picture, const QString& name)
{
    QVERIFY2(picture.save(artefactPath(name)), qPrintable(artefactPath(name)));
}

QByteArray recording()
{
    QByteArray log;
    for (int i = 0; i < 40; ++i) {
        for (const char* id : {"0FF", "100", "123", "1A0", "7DF"})
            log += "(1700000000.000001) can0 " + QByteArray(id) + "#0102\n";
    }
    return log + "(1700000000.1) can0 18FEF100#01\n";
}

} // namespace

// The windows and the report as people see them, under a real X server (Xvfb): each picture is
// taken from the server and kept in the build folder's test-artefacts.
class TestScreenshots : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_exe.makeFolder(QStringLiteral("PROJECTS"));
        m_exe.write(QStringLiteral("Quillner.ini"), "[lastproj]\r\nprojectname=Demo Line\r\n");
        const AppPaths paths = createProjectAt(m_exe.file(QStringLiteral("PROJECTS/Demo Line")));
        Filter20A filter;
        setVisibility(filter, {{0x100, 0x1FF}, {0x7DF, 0x7DF}, {0x600, 0x63F}}, false);
        saveFilter20A(paths.Filter20APath, filter);
        m_exe.write(QStringLiteral("bus.log"), recording());
        m_exe.makeFolder(QStringLiteral("MASTER"));
        writeTestFirmware(m_exe.file(QStringLiteral("MASTER/SX51804.sx")));
        // Every message is recorded: a box would wait for a click no one gives.
        m_messages = std::make_unique<MessageRecorder>();
        // Every modal window is shown without a modal loop, so the test can photograph it.
        setDialogRunner([](QDialog* dialog) {
            dialog->show();
            return int(QDialog::Rejected);
        });
        setFileChooser([this](QWidget*, FileChoice, const QString&, const QString&,
                              const QString&) -> std::optional<QString> {
            return m_exe.file(QStringLiteral("bus.log"));
        });
        m_main = std::make_unique<TFmain>(m_exe.path());
    }

    void cleanupTestCase()
    {
        m_main.reset();
        m_messages.reset();
        setDialogRunner({});
        setFileChooser({});
    }

    void mainWindowWithAProject()
    {
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QCOMPARE(m_main->findChild<QLabel*>(QStringLiteral("ProjectLabel"))->text(),
                 QStringLiteral("Project: Demo Line"));
        const QImage picture = photograph(m_main.get());
        keep(picture, QStringLiteral("main-window.png"));
        const PictureFacts facts = pictureFacts(picture);
        QCOMPARE(facts.image.size(), m_main->size() * m_main->devicePixelRatio());
        QVERIFY(facts.colours > 20);
        QVERIFY(facts.notBackground > 0.02);
    }

    void filter20AWithItsMap()
    {
        m_main->findChild<QPushButton*>(QStringLiteral("btn_Filter"))->click();
        auto* filter = m_main->findChild<TFFilter*>();
        QVERIFY(filter->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(filter));
        const QImage picture = photograph(filter);
        keep(picture, QStringLiteral("filter-2.0A-map.png"));
        // The map's two colours as the server shows them: 2048 - 321 visible cells, 321 hidden.
        const PictureFacts facts = pictureFacts(picture);
        const qint64 cellArea = 6 * 6;
        QVERIFY(facts.near(IdentifierMap::kVisibleColour) > (2048 - 321) * cellArea * 9 / 10);
        QVERIFY(facts.near(IdentifierMap::kHiddenColour) > 321 * cellArea * 9 / 10);
    }

    void testOnRecordingTable()
    {
        auto* filter = m_main->findChild<TFFilter*>();
        filter->findChild<QPushButton*>(QStringLiteral("TestRecording"))->click();
        auto* test = filter->findChild<RecordingTestWindow*>();
        QTRY_VERIFY_WITH_TIMEOUT(!test->isRunning(), 30000);
        QVERIFY(QTest::qWaitForWindowExposed(test));
        QCOMPARE(test->findChild<QTableView*>()->model()->rowCount(), 6);
        const QImage picture = photograph(test);
        keep(picture, QStringLiteral("test-on-recording.png"));
        QVERIFY(pictureFacts(picture).colours > 20);
        test->reject();
    }

    // Generate Firmware after a press, as the user reads its outcome: the flashing tool's verdict
    // below the log, green when it wrote the device, red with an empty bar when it failed.
    void generateFirmwareOutcome_data()
    {
        QTest::addColumn<QByteArray>("flasher");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QString>("picture");
        const QByteArray writing = "echo 'erasing sector 0x38'; echo 'writing 16384 bytes'; ";
        QTest::newRow("flashed") << writing + "echo 'verified 16384 bytes'; exit 0"
                                 << QColor(0, 110, 0) << "generate-firmware-flashed.png";
        QTest::newRow("failed")
            << writing + "echo 'no answer from the device on COM1 after 3 attempts; check the "
                         "cable and the power of the device' >&2; exit 1"
            << QColor(176, 0, 0) << "generate-firmware-failed.png";
    }

    void generateFirmwareOutcome()
    {
        QFETCH(QByteArray, flasher);
        QFETCH(QColor, colour);
        QFETCH(QString, picture);
        const QString tool = m_exe.file(QStringLiteral("Morvex.exe"));
        m_exe.write(QStringLiteral("Morvex.exe"), "#!/bin/sh\n" + flasher + "\n");
        QVERIFY(QFile::setPermissions(tool, QFile::permissions(tool) | QFileDevice::ExeOwner));
        m_main->show();
        auto* window = m_main->findChild<TFModifyFileSx*>();
        QSignalSpy planned(window, &TFModifyFileSx::planShown);
        m_main->findChild<QPushButton*>(QStringLiteral("CreateBin"))->click();
        QVERIFY(planned.wait(30000));
        QVERIFY(window->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QSignalSpy ended(window, &TFModifyFileSx::pressEnded);
        window->findChild<QPushButton*>(QStringLiteral("LbButton2"))->click();
        QVERIFY(ended.wait(30000));
        auto* verdict = window->findChild<QLabel*>(QStringLiteral("FlasherVerdict"));
        QVERIFY(verdict->isVisible());
        // Painted now: the verdict came with the run's last event, not with a later one.
        window->repaint();
        const QImage shot = photograph(window);
        keep(shot, picture);
        // The verdict's colour on the screen: its bold text is many pixels of it.
        QVERIFY(pictureFacts(shot).near(colour) > 200);
        // Closed, the window ends the run, which lets the project go for the next row.
        QSignalSpy runEnded(m_main.get(), &TFmain::updateEnded);
        window->close();
        QVERIFY(runEnded.wait(30000));
    }

    // The report as chromium draws it in a window of its own on the same server.
    void reportInChromium()
    {
        const QString chromium = chromiumProgram();
        QVERIFY2(!chromium.isEmpty(), "chromium is not installed; scripts/setup installs it");
        const QString page = m_exe.file(QStringLiteral("report.html"));
        auto* filter = m_main->findChild<TFFilter*>();
        setFileChooser([&](QWidget*, FileChoice, const QString&, const QString&,
                           const QString&) -> std::optional<QString> { return page; });
        filter->findChild<QPushButton*>(QStringLiteral("SaveReport"))->click();
        QVERIFY(QFile::exists(page));
        filter->hide();
        m_main->hide();

        QTemporaryDir profile;
        QProcess browser;
        browser.setProgram(chromium);
        browser.setArguments(
            chromiumQuietFlags(profile.path()) +
            QStringList{QStringLiteral("--window-position=0,0"),
                        QStringLiteral("--window-size=1000,1000"),
                        QStringLiteral("--force-device-scale-factor=1"),
                        QStringLiteral("--app=") + QUrl::fromLocalFile(page).toString()});
        browser.start();
        QVERIFY(browser.waitForStarted());
        // Drawn once the map's colour shows on the screen.
        QImage picture;
        QTRY_VERIFY_WITH_TIMEOUT(
            (picture = QGuiApplication::primaryScreen()->grabWindow(0).toImage(),
             pictureFacts(picture).near(QColor(0x1f, 0x77, 0xb4)) > 20000),
            60000);
        keep(picture, QStringLiteral("report-in-chromium-xvfb.png"));
        browser.terminate();
        if (!browser.waitForFinished(10000)) {
            browser.kill();
            browser.waitForFinished(10000);
        }
    }

private:
    ExeFolder m_exe;
    std::unique_ptr<MessageRecorder> m_messages;
    std::unique_ptr<TFmain> m_main;
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
