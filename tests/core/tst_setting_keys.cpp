#include "core/app/error.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"

#include <QTest>

using namespace quillner;

class TestSettingKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesGiveTheDocumentCodes_data()
    {
        QTest::addColumn<QString>("assignment");
        QTest::addColumn<int>("Ser_Baud");
        QTest::addColumn<int>("Ser_Par");
        QTest::addColumn<bool>("canTypeB");
        QTest::addColumn<int>("Can_Baud");
        QTest::addColumn<bool>("rtr");
        // The defaults: 115200 bit/s, no parity, 2.0A, 250 kbit/s, remote frames off.
        QTest::newRow("1200") << "serial.baud=1200" << 0 << 0 << false << 5 << false;
        QTest::newRow("115200") << "serial.baud=115200" << 7 << 0 << false << 5 << false;
        QTest::newRow("odd") << "serial.parity=odd" << 7 << 1 << false << 5 << false;
        QTest::newRow("EVEN") << "serial.parity= EVEN " << 7 << 2 << false << 5 << false;
        QTest::newRow("2.0B") << "can.format=2.0B" << 7 << 0 << true << 5 << false;
        QTest::newRow("b") << "can.format=b" << 7 << 0 << true << 5 << false;
        QTest::newRow("10 kbit/s") << "can.baud=10" << 7 << 0 << false << 0 << false;
        QTest::newRow("1000 kbit/s") << "can.baud=1000" << 7 << 0 << false << 8 << false;
        QTest::newRow("rtr on") << "can.rtr=on" << 7 << 0 << false << 5 << true;
        QTest::newRow("rtr 1") << "can.rtr=1" << 7 << 0 << false << 5 << true;
        QTest::newRow("key case") << "CAN.RTR=yes" << 7 << 0 << false << 5 << true;
    }

    void valuesGiveTheDocumentCodes()
    {
        QFETCH(QString, assignment);
        const GeneralParameters set = withSettings({}, {assignment});
        QTEST(set.Ser_Baud, "Ser_Baud");
        QTEST(set.Ser_Par, "Ser_Par");
        QTEST(set.canTypeB, "canTypeB");
        QTEST(set.Can_Baud, "Can_Baud");
        QTEST(set.Can_Enable_RTR, "rtr");
    }

    void refusalsNameTheValidValues_data()
    {
        QTest::addColumn<QString>("assignment");
        QTest::addColumn<QString>("message");
        QTest::newRow("baud") << "serial.baud=115201"
                              << "serial.baud: '115201' is not a valid value; serial.baud takes "
                                 "1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200";
        QTest::newRow("parity") << "serial.parity=mark"
                                << "serial.parity: 'mark' is not a valid value; serial.parity "
                                   "takes none, odd, even";
        QTest::newRow("format") << "can.format=2.0C"
                                << "can.format: '2.0C' is not a valid value; can.format takes "
                                   "2.0A, 2.0B";
        QTest::newRow("can baud in bit/s")
            << "can.baud=250000"
            << "can.baud: '250000' is not a valid value; can.baud takes 10, 20, 50, 100, 125, "
               "250, 500, 800, 1000";
        QTest::newRow("rtr") << "can.rtr=maybe"
                             << "can.rtr: 'maybe' is not a valid value; can.rtr takes off, on";
        QTest::newRow("unknown key")
            << "can.speed=250"
            << "unknown setting 'can.speed'; the settings are serial.baud, serial.parity, "
               "can.format, can.baud, can.rtr";
        QTest::newRow("no equals") << "can.baud"
                                   << "'can.baud' is no KEY=VALUE; the keys are serial.baud, "
                                      "serial.parity, can.format, can.baud, can.rtr";
    }

    void refusalsNameTheValidValues()
    {
        QFETCH(QString, assignment);
        QFETCH(QString, message);
        try {
            withSettings({}, {QStringLiteral("can.rtr=on"), assignment});
            QFAIL("no refusal");
        } catch (const Error& error) {
            QCOMPARE(error.message(), message);
        }
    }

    // Every value and code go both ways, and every code a window writes gives its bank byte back.
    void codesValuesAndBankBytesAgree()
    {
        for (const Setting setting : allSettings()) {
            const QStringList values = settingValues(setting);
            for (int code = 0; code < values.size(); ++code) {
                QCOMPARE(wholeValue(settingCodeOfValue(setting, values[code])), code);
                QCOMPARE(settingValueOfCode(setting, code), values[code]);
                GeneralParameters parameters;
                setSettingCode(parameters, setting, code);
                QCOMPARE(settingCode(parameters, setting), code);
            }
            QCOMPARE(settingValueOfCode(setting, int(values.size())), QString());
            QCOMPARE(settingValueOfCode(setting, -1), QString());
            QCOMPARE(settingNamed(settingName(setting)), setting);
        }
        QCOMPARE(settingNumberOfCode(Setting::SerialBaud, 7), 115200);
        QCOMPARE(settingNumberOfCode(Setting::CanBaud, 5), 250);
        QCOMPARE(settingNumberOfCode(Setting::SerialParity, 1), std::nullopt);
        for (const Setting setting : allSettings()) {
            const std::span<const SettingChoice> choices = definitionOf(setting).choices;
            for (size_t index = 0; index < choices.size(); ++index) {
                QCOMPARE(settingCodeOfBankByte(setting, choices[index].bankByte), int(index));
                QCOMPARE(settingBankByte(setting, int(index)), choices[index].bankByte);
            }
        }
        QCOMPARE(settingCodeOfBankByte(Setting::CanBaud, 0), std::nullopt);
        QCOMPARE(settingCodeOfBankByte(Setting::SerialParity, 2), std::nullopt);
        QCOMPARE(settingCodeOfBankByte(Setting::CanRtr, 2), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSettingKeys)
#include "tst_setting_keys.moc"
