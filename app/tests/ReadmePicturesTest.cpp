// The README's pictures, taken again by scripts/screenshots.sh with the real
// program under the X server, are real pictures of the interface: not blank,
// with the colours each screen is known by. Compared loosely, never pixel for
// pixel. Arguments: the script, the build directory.

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString g_script;
QString g_buildDir;

// Share of pixels within `tolerance` of `colour` in every channel.
double shareOf(const QImage& image, QColor colour, int tolerance)
{
    qint64 hits = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            if (qAbs(qRed(p) - colour.red()) <= tolerance && qAbs(qGreen(p) - colour.green()) <= tolerance
                && qAbs(qBlue(p) - colour.blue()) <= tolerance)
                ++hits;
        }
    }
    return double(hits) / (double(image.width()) * image.height());
}

int distinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace

class ReadmePicturesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess script;
        script.setProcessChannelMode(QProcess::ForwardedChannels);
        script.start(QStringLiteral("bash"), { g_script, g_buildDir, m_dir.path() });
        QVERIFY2(script.waitForFinished(300000), "the screenshot script did not finish");
        QCOMPARE(script.exitStatus(), QProcess::NormalExit);
        QCOMPARE(script.exitCode(), 0);
    }

    void picturesShowTheirScreens_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<double>("leastShare");
        QTest::addColumn<double>("leastDark");
        // The accent of the share button; the yellow bar of the test pattern
        // in the panels; the accent border and buttons of the sheet.
        QTest::newRow("start") << "start" << QColor("#ff6b35") << 0.003 << 0.5;
        QTest::newRow("session") << "session" << QColor("#ffff00") << 0.05 << 0.02;
        QTest::newRow("share") << "share" << QColor("#ff6b35") << 0.001 << 0.2;
    }

    void picturesShowTheirScreens()
    {
        QFETCH(QString, name);
        QFETCH(QColor, colour);
        QFETCH(double, leastShare);
        QFETCH(double, leastDark);
        QImage image(m_dir.filePath(name + ".png"));
        QVERIFY2(!image.isNull(), qPrintable(name + ".png is missing or unreadable"));
        image = image.convertToFormat(QImage::Format_RGB32);
        QVERIFY(image.width() >= 600 && image.height() >= 380);
        QVERIFY2(distinctColours(image) >= 8, "the picture is nearly blank");
        // A dark interface: its background shows, but is not all there is.
        const double dark = shareOf(image, QColor("#000000"), 24) + shareOf(image, QColor("#111111"), 12);
        QVERIFY2(dark >= leastDark && dark < 0.995, qPrintable(name + ": dark " + QString::number(dark)));
        const double share = shareOf(image, colour, 40);
        QVERIFY2(share >= leastShare, qPrintable(name + ": " + QString::number(share)));
    }

    void theSessionShowsTheCamera()
    {
        // Four panels of the test pattern: far more colours than the screens.
        QImage session(m_dir.filePath("session.png"));
        QImage start(m_dir.filePath("start.png"));
        QVERIFY(!session.isNull() && !start.isNull());
        QVERIFY2(distinctColours(session) > 24, qPrintable(QString::number(distinctColours(session))));
    }

private:
    QTemporaryDir m_dir;
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        qCritical("usage: ReadmePicturesTest <screenshots.sh> <build dir>");
        return 2;
    }
    g_script = arguments.at(1);
    g_buildDir = arguments.at(2);
    char* testArguments[] = { argv[0] };
    ReadmePicturesTest test;
    return QTest::qExec(&test, 1, testArguments);
}

#include "ReadmePicturesTest.moc"
