// The graphics tiers: TVX_QSG_MODE to tier, the environment each tier sets
// before the application exists, the environment of a re-run, and that the
// software tier really gives windows Qt's software scene graph (no "software"
// RHI backend exists to name).

#include "GraphicsTier.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtTest>

namespace {

QString variable(const TierSettings& settings, const char* name)
{
    for (const auto& [key, value] : settings.setVariables) {
        if (key == name)
            return QString::fromLatin1(value);
    }
    return QString();  // null: not set
}

}  // namespace

class GraphicsTierTest : public QObject {
    Q_OBJECT

private slots:
    void tierFromMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("tier");
        QTest::newRow("unset") << QString() << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("gl-soft") << "gl-soft" << 1;
        QTest::newRow("GL-SOFT, other case") << "GL-SOFT" << 0;
        QTest::newRow("software") << "software" << 2;
        QTest::newRow("Software, other case") << "Software" << 0;
        QTest::newRow("opengl") << "opengl" << 0;
        QTest::newRow("trailing blank") << "software " << 0;
    }
    void tierFromMode()
    {
        QFETCH(QString, mode);
        QFETCH(int, tier);
        QCOMPARE(int(GraphicsTier::tierForMode(mode)), tier);
    }

    void currentTierReadsTheEnvironment()
    {
        qputenv(GraphicsTier::kModeVariable, "gl-soft");
        QCOMPARE(GraphicsTier::currentTier(), GlTier::GlSoft);
        qunsetenv(GraphicsTier::kModeVariable);
        QCOMPARE(GraphicsTier::currentTier(), GlTier::OpenGl);
    }

    void tierNames()
    {
        QCOMPARE(GraphicsTier::tierName(GlTier::OpenGl), QStringLiteral("opengl (real GL context)"));
        QCOMPARE(GraphicsTier::tierName(GlTier::GlSoft),
                 QStringLiteral("opengl + LIBGL_ALWAYS_SOFTWARE=1 (Mesa software GL)"));
        QCOMPARE(GraphicsTier::tierName(GlTier::Software),
                 QStringLiteral("QSG_RHI_BACKEND=software (no GL; panels are placeholders)"));
    }

    void nextTierStopsAtSoftware()
    {
        QCOMPARE(GraphicsTier::nextTier(GlTier::OpenGl), GlTier::GlSoft);
        QCOMPARE(GraphicsTier::nextTier(GlTier::GlSoft), GlTier::Software);
        QCOMPARE(GraphicsTier::nextTier(GlTier::Software), GlTier::Software);
    }

    void environmentOfEachTier_data()
    {
        QTest::addColumn<int>("tier");
        QTest::addColumn<QString>("rhiBackend");     // null = not set
        QTest::addColumn<QString>("softwareGl");     // null = not set
        QTest::addColumn<bool>("unsetsRhiBackend");
        QTest::addColumn<bool>("softwareSceneGraph");
        QTest::newRow("opengl") << 0 << "opengl" << QString() << false << false;
        QTest::newRow("gl-soft") << 1 << "opengl" << "1" << false << false;
        QTest::newRow("software") << 2 << QString() << QString() << true << true;
    }
    void environmentOfEachTier()
    {
        QFETCH(int, tier);
        QFETCH(QString, rhiBackend);
        QFETCH(QString, softwareGl);
        QFETCH(bool, unsetsRhiBackend);
        QFETCH(bool, softwareSceneGraph);
        const TierSettings settings = GraphicsTier::settingsFor(GlTier(tier));
        QCOMPARE(variable(settings, "QSG_RHI_BACKEND"), rhiBackend);
        QCOMPARE(variable(settings, "LIBGL_ALWAYS_SOFTWARE"), softwareGl);
        QCOMPARE(settings.unsetVariables.contains("QSG_RHI_BACKEND"), unsetsRhiBackend);
        QCOMPARE(settings.softwareSceneGraph, softwareSceneGraph);
    }

    void applyingTheSoftwareTierClearsAnInheritedRhiBackend()
    {
        qputenv("QSG_RHI_BACKEND", "opengl");
        GraphicsTier::applyEnvironment(GlTier::Software);
        QVERIFY(!qEnvironmentVariableIsSet("QSG_RHI_BACKEND"));
        GraphicsTier::applyEnvironment(GlTier::GlSoft);
        QCOMPARE(qgetenv("QSG_RHI_BACKEND"), QByteArray("opengl"));
        QCOMPARE(qgetenv("LIBGL_ALWAYS_SOFTWARE"), QByteArray("1"));
        qunsetenv("QSG_RHI_BACKEND");
        qunsetenv("LIBGL_ALWAYS_SOFTWARE");
    }

    void retryEnvironment_data()
    {
        QTest::addColumn<int>("tier");
        QTest::addColumn<QString>("mode");        // null = removed
        QTest::addColumn<bool>("keepsSoftwareGl");
        QTest::addColumn<bool>("keepsRhiBackend");
        QTest::newRow("to gl-soft") << 1 << "gl-soft" << true << true;
        QTest::newRow("to software") << 2 << "software" << false << false;
    }
    void retryEnvironment()
    {
        QFETCH(int, tier);
        QFETCH(QString, mode);
        QFETCH(bool, keepsSoftwareGl);
        QFETCH(bool, keepsRhiBackend);
        // What a process on tier 1 has after applying its tier.
        QProcessEnvironment parent;
        parent.insert("TVX_QSG_MODE", "gl-soft");
        parent.insert("QSG_RHI_BACKEND", "opengl");
        parent.insert("LIBGL_ALWAYS_SOFTWARE", "1");
        parent.insert("TAVRIX_TEST_SOURCE", "1");
        const QProcessEnvironment child = GraphicsTier::retryEnvironment(parent, GlTier(tier));
        QCOMPARE(child.value("TVX_QSG_MODE", QString()), mode);
        QCOMPARE(child.contains("LIBGL_ALWAYS_SOFTWARE"), keepsSoftwareGl);
        QCOMPARE(child.contains("QSG_RHI_BACKEND"), keepsRhiBackend);
        QCOMPARE(child.value("TAVRIX_TEST_SOURCE"), QStringLiteral("1"));
        QCOMPARE(GraphicsTier::tierForMode(child.value("TVX_QSG_MODE")), GlTier(tier));
    }

    // Last: the scene-graph choice holds for the rest of the process.
    void softwareTierGivesWindowsTheSoftwareSceneGraph()
    {
        qputenv("QSG_RHI_BACKEND", "opengl");  // as inherited from a parent on a GL tier
        GraphicsTier::applyEnvironment(GlTier::Software);
        GraphicsTier::applySceneGraph(GlTier::Software);
        QQuickWindow window;
        window.resize(64, 64);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.isSceneGraphInitialized());
        QVERIFY(window.rendererInterface());
        QCOMPARE(window.rendererInterface()->graphicsApi(), QSGRendererInterface::Software);
        QVERIFY(!window.grabWindow().isNull());
    }
};

QTEST_MAIN(GraphicsTierTest)
#include "GraphicsTierTest.moc"
