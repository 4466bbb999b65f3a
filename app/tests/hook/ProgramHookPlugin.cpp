// A test-only plugin that reaches into the unchanged program: loaded by Qt
// itself (QT_QPA_GENERIC_PLUGINS=tavrixtesthook with QT_PLUGIN_PATH naming
// this build's plugin directory), it watches the window's `Engine` through
// QML expressions and reports on standard error, so a test can drive the
// real program to a state it has no control for yet (a recording running)
// and then act on the process from outside.
//
// TAVRIX_TEST_HOOK_RECORD=<path>: once the session runs, start a recording
// into <path>. Lines written: "test hook: session running",
// "test hook: startRecording returned <true|false>",
// "test hook: recording for <ms> ms" (once 1500 ms have been recorded).

#include <QGenericPlugin>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kPollMs = 100;
constexpr int kRecordedEnoughMs = 1500;

void report(const QByteArray& line)
{
    std::fprintf(stderr, "test hook: %s\n", line.constData());
    std::fflush(stderr);
}

class ProgramHook : public QObject {
public:
    ProgramHook()
        : m_recordPath(qEnvironmentVariable("TAVRIX_TEST_HOOK_RECORD"))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
        m_timer.start(kPollMs);
    }

private:
    // The value of `script` in the context of the program's window; invalid
    // while there is no window yet.
    QVariant evaluate(const QString& script)
    {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            auto* quickWindow = qobject_cast<QQuickWindow*>(window);
            QQmlContext* context = quickWindow ? qmlContext(quickWindow) : nullptr;
            if (!context)
                continue;
            QQmlExpression expression(context, quickWindow, script);
            const QVariant value = expression.evaluate();
            if (expression.hasError())
                report("error: " + expression.error().toString().toUtf8());
            return value;
        }
        return {};
    }

    void step()
    {
        if (!m_sessionSeen) {
            if (!evaluate(QStringLiteral("Engine.sessionRunning")).toBool())
                return;
            m_sessionSeen = true;
            report("session running");
        }
        if (m_recordPath.isEmpty()) {
            m_timer.stop();
            return;
        }
        if (!m_recordingAsked) {
            m_recordingAsked = true;
            const QString path = QString::fromUtf8(
                QJsonDocument(QJsonArray {m_recordPath}).toJson(QJsonDocument::Compact).mid(1).chopped(1));
            const bool started =
                evaluate(QStringLiteral("Engine.startRecording(%1, {title: \"Stopped by a signal\"})").arg(path))
                    .toBool();
            report(QByteArray("startRecording returned ") + (started ? "true" : "false"));
            if (!started)
                m_timer.stop();
            return;
        }
        const qlonglong elapsedMs = evaluate(QStringLiteral("Engine.recordingElapsedMs")).toLongLong();
        if (evaluate(QStringLiteral("Engine.recordingState === Engine.Recording")).toBool()
            && elapsedMs >= kRecordedEnoughMs) {
            report("recording for " + QByteArray::number(elapsedMs) + " ms");
            m_timer.stop();
        }
    }

    QString m_recordPath;
    QTimer m_timer;
    bool m_sessionSeen = false;
    bool m_recordingAsked = false;
};

}  // namespace

class ProgramHookPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ProgramHookPlugin.json")

public:
    QObject* create(const QString&, const QString&) override { return new ProgramHook; }
};

#include "ProgramHookPlugin.moc"
