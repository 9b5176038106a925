#include <QTest>
class TestCliImport : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestCliImport)
#include "tst_cli_import.moc"
