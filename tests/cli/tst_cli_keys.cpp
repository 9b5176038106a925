// key new: a key pair minisign takes, the secret never readable by others and never written over.

#include "core/app/signing.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/program_run.h"
#include "test_files.h"

using namespace quillner;
using quillner::testing::readFile;
using quillner::testing::Run;
using quillner::testing::writeFile;

class TestCliKeys : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    Run cli(const QStringList& arguments) const
    {
        return quillner::testing::runProgram(QStringLiteral(QUILLNER_CLI), arguments, m_dir.path());
    }

private Q_SLOTS:
    void newKeyPair()
    {
        const Run run =
            cli({QStringLiteral("key"), QStringLiteral("new"), QStringLiteral("line3")});
        QCOMPARE(run.exitCode, 0);
        const QString secret = m_dir.filePath(QStringLiteral("line3.key"));
        const QString publicKey = m_dir.filePath(QStringLiteral("line3.pub"));
        QCOMPARE(QFileInfo(secret).permissions() &
                     ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // The secret key never reaches the terminal.
        const QByteArray secretLine = readFile(secret).split('\n').value(1);
        QVERIFY(!secretLine.isEmpty());
        QVERIFY(!run.out.toUtf8().contains(secretLine));

        const Result<SigningKey> key = parseSecretKey(readFile(secret));
        QVERIFY2(key.whole(), qPrintable(problemLines(key.problems).join(u'\n')));
        const Result<PublicKey> matching = parsePublicKey(readFile(publicKey));
        QVERIFY2(matching.whole(), qPrintable(problemLines(matching.problems).join(u'\n')));
        QCOMPARE(matching.value.key, key.value.publicKey.key);
        QVERIFY(run.out.contains(keyIdText(matching.value.keyId)));

        const Run again =
            cli({QStringLiteral("key"), QStringLiteral("new"), QStringLiteral("line3")});
        QCOMPARE(again.exitCode, 1);
        QVERIFY2(again.err.contains(QStringLiteral("a key is never written over")),
                 qPrintable(again.err));
        QCOMPARE(parseSecretKey(readFile(secret)).value.secretKey, key.value.secretKey);

        const QString minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
        if (minisign.isEmpty())
            QSKIP("minisign is not installed (scripts/setup installs it)");
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("m.txt")), "m\n"));
        QCOMPARE(quillner::testing::runProgram(minisign,
                                               {QStringLiteral("-S"), QStringLiteral("-s"), secret,
                                                QStringLiteral("-m"), QStringLiteral("m.txt")},
                                               m_dir.path())
                     .exitCode,
                 0);
        QCOMPARE(
            quillner::testing::runProgram(minisign,
                                          {QStringLiteral("-V"), QStringLiteral("-p"), publicKey,
                                           QStringLiteral("-m"), QStringLiteral("m.txt")},
                                          m_dir.path())
                .exitCode,
            0);
    }

    void usage()
    {
        QCOMPARE(cli({QStringLiteral("key")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("key"), QStringLiteral("old"), QStringLiteral("x")}).exitCode,
                 2);
    }
};

QTEST_GUILESS_MAIN(TestCliKeys)
#include "tst_cli_keys.moc"
