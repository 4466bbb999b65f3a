// Runs Qt Quick Test documents against the module Tavrix as the program
// loads it: from the resources, with `Lang` published on the root context
// and the settings in a temporary directory. The clipboard test also gets
// `clipboardProbe`, which reaches the clipboard from another process.
// With TAVRIX_FAKE_ENGINE=1 the module's singleton `Engine` is a FakeEngine.

#include "ClipboardProbe.h"
#include "FakeEngine.h"
#include "LanguageManager.h"
#include "TestConfigDir.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QtPlugin>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>


Q_IMPORT_QML_PLUGIN(TavrixPlugin)

class QmlTestSetup : public QObject {
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        LanguageManager* lang = LanguageManager::instance();
        lang->init(engine);
        engine->rootContext()->setContextProperty(QStringLiteral("Lang"), lang);
        engine->rootContext()->setContextProperty(
            QStringLiteral("clipboardProbe"),
            new ClipboardProbe(QStringLiteral(TAVRIX_CLIPBOARD_PEEK), engine));
        if (qEnvironmentVariableIntValue("TAVRIX_FAKE_ENGINE") == 1)
            installFakeEngine();
    }

private:
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
