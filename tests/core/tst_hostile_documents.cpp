#include "core/app/error.h"
#include "core/bank/bank_compiler.h"
#include "core/documents/document_structure.h"
#include "core/documents/general_parameters.h"
#include "core/documents/xml_document.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "test_files.h"

using namespace quillner;
using quillner::testing::writeFile;

namespace {

const QByteArray kPargen =
    "<General_Parameter><Ser_Baud>7</Ser_Baud><Ser_Par>0</Ser_Par><Can_Type>0</Can_Type>"
    "<Can_Baud>5</Can_Baud><Can_Enable_RTR>0</Can_Enable_RTR></General_Parameter>";

QByteArray nested(int depth)
{
    return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
}

// The message of the failure that loading the file throws, or "" when it loads.
QString loadFailure(const QString& path)
{
    return problemLines(loadXmlDocument(path).problems).join(u'\n');
}

} // namespace

// Documents that no window writes are refused before they can cost time, memory or a read outside
// the project.
class TestHostileDocuments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void refusedBeforeParsing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("failure"); // a part of the message; "" when it loads
        const QByteArray laughs = "<!DOCTYPE General_Parameter [<!ENTITY a \"aaaaaaaaaa\">"
                                  "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                                  "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
                                  "<General_Parameter><Ser_Baud>&c;</Ser_Baud></General_Parameter>";
        QTest::newRow("DOCTYPE with entities") << laughs << "DOCTYPE";
        QTest::newRow("DOCTYPE alone")
            << QByteArray("<!DOCTYPE General_Parameter>") + kPargen << "DOCTYPE";
        QTest::newRow("real document") << kPargen << "";
        QTest::newRow("16 levels") << nested(16) << "";
        QTest::newRow("17 levels") << nested(17) << "nested deeper than 16 levels";
        QTest::newRow("100 000 levels") << nested(100000) << "nested deeper than 16 levels";
        QTest::newRow("1 MB") << kPargen + QByteArray(kMaxDocumentSize - kPargen.size(), ' ') << "";
        QTest::newRow("1 MB and a byte")
            << kPargen + QByteArray(kMaxDocumentSize - kPargen.size() + 1, ' ')
            << "larger than 1048576 bytes (1048577 bytes)";
    }

    void refusedBeforeParsing()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        QVERIFY(writeFile(path, content));
        const QString message = loadFailure(path);
        if (failure.isEmpty())
            QCOMPARE(message, QString());
        else
            QVERIFY2(message.contains(failure), qPrintable(message));
    }

    // An external entity would read a file outside the project into the document.
    void nothingIsReadFromOutside()
    {
        QTemporaryDir dir;
        const QString secret = dir.filePath(QStringLiteral("secret.txt"));
        QVERIFY(writeFile(secret, "7"));
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        QVERIFY(writeFile(path, "<!DOCTYPE General_Parameter [<!ENTITY s SYSTEM \"" +
                                    QFile::encodeName(secret) +
                                    "\">]><General_Parameter><Ser_Baud>&s;</Ser_Baud>"
                                    "</General_Parameter>"));
        QVERIFY(loadFailure(path).contains(QStringLiteral("DOCTYPE")));
        const CompiledBank compiled =
            CompileBank(path, dir.filePath(QStringLiteral("Filter20A.xml")),
                        dir.filePath(QStringLiteral("Filter20B.xml")));
        QCOMPARE(int(compiled.value[0]), 0);
        QCOMPARE(compiled.problems.size(), 1);
    }

    // A FIFO would block the window forever, a device read until memory runs out: only regular
    // files are opened, by the windows' readers and the compiler alike.
    void specialFilesAreNotOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("symlink to /dev/zero") << "zero";
        QTest::newRow("folder") << "folder";
    }

    void specialFilesAreNotOpened()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pargen.xml"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            QVERIFY(QDir().mkdir(path));
        QVERIFY2(loadFailure(path).contains(QStringLiteral("It is not a regular file")),
                 qPrintable(loadFailure(path)));
        QVERIFY_THROWS_EXCEPTION(Error, loadGeneralParameters(path));
        QVERIFY_THROWS_EXCEPTION(Error, readFrameFormat(path));
        QCOMPARE(loadFilter20A(path).problems.size(), 1);
        QCOMPARE(loadFilter20B(path, Filter20B{}).problems.size(), 1);
        // The compiler counts it as a document that cannot be read, not as a missing one.
        const CompiledBank compiled =
            CompileBank(path, dir.filePath(QStringLiteral("Filter20A.xml")),
                        dir.filePath(QStringLiteral("Filter20B.xml")));
        QCOMPARE(compiled.problems.size(), 1);
        QVERIFY2(compiled.problems.first().text.contains(QStringLiteral("not a regular file")),
                 qPrintable(compiled.problems.first().toString()));
    }
};

QTEST_GUILESS_MAIN(TestHostileDocuments)
#include "tst_hostile_documents.moc"
