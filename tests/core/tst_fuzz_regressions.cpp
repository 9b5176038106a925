// Every input that once broke a parser (fuzz/regressions/<target>/) and every seed of the fuzz
// corpora (fuzz/corpus/<target>/) goes through the same entry function as in its fuzz target,
// so that the ordinary build replays them; the sanitizer build replays them under ASan and
// UBSan.

#include "../../fuzz/fuzz_entries.h"

#include <QDirIterator>
#include <QTest>

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyTargetHasSeeds();
    void replay_data();
    void replay();
};

namespace {

QString fuzzFolder(const char* kind, const char* target)
{
    return QStringLiteral(QUILLNER_SOURCE_DIR "/fuzz/%1/%2")
        .arg(QLatin1StringView(kind), QLatin1StringView(target));
}

QStringList filesIn(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

void TestFuzzRegressions::everyTargetHasSeeds()
{
    for (const quillner::fuzzing::Entry& entry : quillner::fuzzing::kEntries)
        QVERIFY2(!filesIn(fuzzFolder("corpus", entry.name)).isEmpty(), entry.name);
}

void TestFuzzRegressions::replay_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("path");
    int target = 0;
    for (const quillner::fuzzing::Entry& entry : quillner::fuzzing::kEntries) {
        for (const char* kind : {"regressions", "corpus"}) {
            for (const QString& path : filesIn(fuzzFolder(kind, entry.name))) {
                QTest::addRow("%s/%s/%s", kind, entry.name, qPrintable(QFileInfo(path).fileName()))
                    << target << path;
            }
        }
        ++target;
    }
}

void TestFuzzRegressions::replay()
{
    QFETCH(int, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    quillner::fuzzing::kEntries[target].run(file.readAll());
}

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzz_regressions.moc"
