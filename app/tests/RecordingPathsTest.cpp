// New recording names never land on an existing file.

#include "RecordingPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class RecordingPathsTest : public QObject {
    Q_OBJECT

private:
    static void touch(const QString& path)
    {
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        file.write("old recording");
    }

private slots:
    void firstFreeName_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");

        const QString name = QStringLiteral("Tavrix 2026-03-03_07.05.09");
        QTest::newRow("free") << name + ".mp4" << QStringList{} << name + ".mp4";
        QTest::newRow("taken") << name + ".mp4" << QStringList{name + ".mp4"} << name + " (2).mp4";
        QTest::newRow("taken twice") << name + ".mp4" << QStringList{name + ".mp4", name + " (2).mp4"}
                                     << name + " (3).mp4";
        QTest::newRow("a gap is reused") << name + ".mp4" << QStringList{name + ".mp4", name + " (3).mp4"}
                                         << name + " (2).mp4";
        QTest::newRow("no extension") << QStringLiteral("clip") << QStringList{"clip"} << QStringLiteral("clip (2)");
        QTest::newRow("dot in a directory") << QStringLiteral("a.b/clip") << QStringList{"a.b/clip"}
                                            << QStringLiteral("a.b/clip (2)");
    }

    void firstFreeName()
    {
        QFETCH(QString, wanted);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("a.b")));
        for (const QString& entry : existing)
            touch(dir.filePath(entry));
        RecordingPaths paths;
        QCOMPARE(paths.unusedPath(dir.filePath(wanted)), dir.filePath(expected));
    }

    void danglingLinkCountsAsTaken()
    {
        QTemporaryDir dir;
        const QString wanted = dir.filePath(QStringLiteral("clip.mp4"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.mp4")), wanted));
        RecordingPaths paths;
        QCOMPARE(paths.unusedPath(wanted), dir.filePath(QStringLiteral("clip (2).mp4")));
    }

    void nothingToNameGivesNothing()
    {
        RecordingPaths paths;
        QCOMPARE(paths.unusedPath(QString()), QString());
    }
};

QTEST_GUILESS_MAIN(RecordingPathsTest)

#include "RecordingPathsTest.moc"
