// Runs Qt Quick Test documents against the module Tavrix as the program
// loads it: from the resources, in the Basic style, with `Lang` published on the root context
// and the settings in a temporary directory. The clipboard test also gets
// `clipboardProbe`, which reaches the clipboard from another process.
// With TAVRIX_FAKE_ENGINE=1 the module's singleton `Engine` is a FakeEngine.
// The window's start-up properties are published as the program publishes
// them; TAVRIX_TEST_SCREEN, TAVRIX_TEST_LAYOUT, TAVRIX_TEST_CAMERA,
// TAVRIX_TEST_TOUR_STEP, TAVRIX_TEST_TOUR_AUTO_START and TAVRIX_TEST_KIOSK
// ("1" for true) change them.

#include "ClipboardProbe.h"
#include "FakeEngine.h"
#include "LanguageManager.h"
#include "TestConfigDir.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtPlugin>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>


Q_IMPORT_QML_PLUGIN(TavrixPlugin)

class QmlTestSetup : public QObject {
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        // The program's style, so a document looks and measures as it does there.
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        LanguageManager* lang = LanguageManager::instance();
        lang->init(engine);
        engine->rootContext()->setContextProperty(QStringLiteral("Lang"), lang);
        engine->rootContext()->setContextProperty(
            QStringLiteral("clipboardProbe"),
            new ClipboardProbe(QStringLiteral(TAVRIX_CLIPBOARD_PEEK), engine));
        setWindowProperties(engine->rootContext());
        if (qEnvironmentVariableIntValue("TAVRIX_FAKE_ENGINE") == 1)
            installFakeEngine();
    }

private:
    static QString environmentOr(const char* name, const char* fallback)
    {
        return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : QString::fromLatin1(fallback);
    }

    // What main publishes for the window document, with the program's values
    // for an ordinary run; a test picks others through its environment.
    static void setWindowProperties(QQmlContext* context)
    {
        context->setContextProperty(QStringLiteral("kioskMode"), environmentOr("TAVRIX_TEST_KIOSK", "0") == "1");
        context->setContextProperty(QStringLiteral("devInitialScreen"), environmentOr("TAVRIX_TEST_SCREEN", "start"));
        context->setContextProperty(QStringLiteral("devInitialLayoutId"), environmentOr("TAVRIX_TEST_LAYOUT", ""));
        context->setContextProperty(QStringLiteral("devTourStep"), environmentOr("TAVRIX_TEST_TOUR_STEP", "0").toInt());
        context->setContextProperty(QStringLiteral("tourAutoStart"),
                                    environmentOr("TAVRIX_TEST_TOUR_AUTO_START", "1") == "1");
        context->setContextProperty(QStringLiteral("devInitialCameraId"), environmentOr("TAVRIX_TEST_CAMERA", "test"));
    }

    // Registered before the module's first import, one minor version above the
    // module's own types: an unversioned `import Tavrix` resolves `Engine` to
    // the highest version, the double.
    static void installFakeEngine()
    {
        static FakeEngine* fake = new FakeEngine;
        QJSEngine::setObjectOwnership(fake, QJSEngine::CppOwnership);
        if (qmlRegisterSingletonInstance("Tavrix", 1, 1, "Engine", fake) < 0)
            qFatal("registering the fake Engine failed");
    }

    // Made before the application object, so Qt's settings land here.
    TestConfigDir m_configDir;
};

QUICK_TEST_MAIN_WITH_SETUP(tavrix_qml_tests, QmlTestSetup)

#include "QmlTestMain.moc"
