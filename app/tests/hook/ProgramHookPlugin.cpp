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
//
// TAVRIX_TEST_HOOK_WATCH=1: reports the window's state at every change, as
// "test hook: state screen=<start|session> invite=<open|closed|none>
// tour=<idle|phase:step index> recording=<Engine.recordingState>", so a test that
// drives the window with real input sees where it is. Once the window has
// taken a key release, a mouse button release or a wheel turn, it reports a
// changed state and then "test hook: input <key|button|wheel>". It also
// answers lines on standard input: "where <objectName>" gives "test hook:
// where <objectName> <x> <y>", the middle of the first visible item of that
// name in window coordinates, or "test hook: where <objectName> none"; "rect
// <objectName>" gives "test hook: rect <objectName> <x> <y> <width> <height>",
// that item's box in window coordinates, or "test hook: rect <objectName> none";
// "property <objectName> <name>" gives "test hook: property <objectName> <name>
// <value>" or "... none"; "recorded" gives "test hook: recorded <ms>", the
// running recording's Engine.recordingElapsedMs; "sync" reports a changed
// state, then "test hook: synced"; "frame" asks the window for a frame and
// gives "test hook: frame" once a frame synchronized after the request has
// been swapped, so a grab then shows the state of the request's time.

#include <QGenericPlugin>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <memory>
#include <unistd.h>

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
        , m_watch(qEnvironmentVariable("TAVRIX_TEST_HOOK_WATCH") == QLatin1String("1"))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
        m_timer.start(kPollMs);
        if (m_watch) {
            m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
            connect(m_input, &QSocketNotifier::activated, this, [this] { readCommands(); });
            qApp->installEventFilter(this);
        }
    }

protected:
    // Input that reached the window is reported once it has been handled,
    // after the state it changed.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWindowType())
            return false;
        QByteArray kind;
        if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
            kind = "key";
        else if (event->type() == QEvent::MouseButtonRelease)
            kind = "button";
        else if (event->type() == QEvent::Wheel)
            kind = "wheel";
        if (!kind.isEmpty()) {
            QMetaObject::invokeMethod(
                this,
                [this, kind] {
                    watchStep();
                    report("input " + kind);
                },
                Qt::QueuedConnection);
        }
        return false;
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

    void readCommands()
    {
        char buffer[512];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            m_input->setEnabled(false);
            return;
        }
        m_pendingInput.append(buffer, static_cast<int>(count));
        for (int end = m_pendingInput.indexOf('\n'); end >= 0; end = m_pendingInput.indexOf('\n')) {
            const QByteArray line = m_pendingInput.left(end).trimmed();
            m_pendingInput.remove(0, end + 1);
            if (line.startsWith("where ")) {
                where(line.mid(6));
            } else if (line.startsWith("rect ")) {
                rect(line.mid(5));
            } else if (line.startsWith("property ")) {
                answerProperty(line.mid(9));
            } else if (line == "recorded") {
                const qlonglong elapsedMs = evaluate(QStringLiteral("Engine.recordingElapsedMs")).toLongLong();
                report("recorded " + QByteArray::number(elapsedMs));
            } else if (line == "sync") {
                watchStep();
                report("synced");
            } else if (line == "frame") {
                frame();
            }
        }
    }

    static QQuickItem* findShown(QQuickItem* item, const QString& name)
    {
        if (!item || !item->isVisible())
            return nullptr;
        if (item->objectName() == name && item->width() > 0 && item->height() > 0)
            return item;
        for (QQuickItem* child : item->childItems()) {
            if (QQuickItem* found = findShown(child, name))
                return found;
        }
        return nullptr;
    }

    static QQuickItem* findShownInWindows(const QByteArray& name)
    {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (auto* quickWindow = qobject_cast<QQuickWindow*>(window)) {
                if (QQuickItem* found = findShown(quickWindow->contentItem(), QString::fromUtf8(name)))
                    return found;
            }
        }
        return nullptr;
    }

    void rect(const QByteArray& name)
    {
        QQuickItem* found = findShownInWindows(name);
        if (!found) {
            report("rect " + name + " none");
            return;
        }
        const QRectF box = found->mapRectToScene(QRectF(0, 0, found->width(), found->height()));
        report("rect " + name + " " + QByteArray::number(qRound(box.x())) + " " + QByteArray::number(qRound(box.y()))
               + " " + QByteArray::number(qRound(box.width())) + " " + QByteArray::number(qRound(box.height())));
    }

    void where(const QByteArray& name)
    {
        QQuickItem* found = findShownInWindows(name);
        if (!found) {
            report("where " + name + " none");
            return;
        }
        const QPointF middle = found->mapToScene(QPointF(found->width() / 2, found->height() / 2));
        report("where " + name + " " + QByteArray::number(qRound(middle.x())) + " "
               + QByteArray::number(qRound(middle.y())));
    }

    // "<objectName> <name>": the named property of the first visible item.
    void answerProperty(const QByteArray& request)
    {
        const QList<QByteArray> words = request.split(' ');
        QQuickItem* found = words.size() == 2 ? findShownInWindows(words[0]) : nullptr;
        if (!found) {
            report("property " + request + " none");
            return;
        }
        report("property " + request + " " + found->property(words[1].constData()).toString().toUtf8());
    }

    // One line once a frame synchronized after the request is swapped. The
    // render loop holds this thread while it synchronizes, so none is under
    // way now: the next synchronization, and the swap after it, carry the
    // state of now. Both signals come from the render thread.
    void frame()
    {
        struct FrameWait {
            std::atomic<bool> isSynchronized {false};
            QMetaObject::Connection onSynchronized;
            QMetaObject::Connection onSwapped;
        };
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            auto* quickWindow = qobject_cast<QQuickWindow*>(window);
            if (!quickWindow || !quickWindow->isVisible())
                continue;
            auto wait = std::make_shared<FrameWait>();
            wait->onSynchronized = connect(
                quickWindow, &QQuickWindow::afterSynchronizing, quickWindow,
                [wait] {
                    wait->isSynchronized = true;
                    QObject::disconnect(wait->onSynchronized);
                },
                Qt::DirectConnection);
            wait->onSwapped = connect(
                quickWindow, &QQuickWindow::frameSwapped, quickWindow,
                [wait] {
                    if (wait->isSynchronized && QObject::disconnect(wait->onSwapped))
                        report("frame");
                },
                Qt::DirectConnection);
            quickWindow->update();
            return;
        }
        report("frame none");
    }

    void step()
    {
        if (m_watch)
            watchStep();
        if (!recordStep() && !m_watch)
            m_timer.stop();
    }

    void watchStep()
    {
        const QVariant screen = evaluate(QStringLiteral("screenName"));
        if (!screen.isValid())
            return;
        QByteArray invite = "none";
        if (auto* startScreen = qvariant_cast<QObject*>(evaluate(QStringLiteral("startScreenLoader.item")))) {
            if (QObject* sheet = startScreen->findChild<QObject*>(QStringLiteral("inviteCodeSheet")))
                invite = sheet->property("open").toBool() ? "open" : "closed";
        }
        const QByteArray state = "state screen=" + screen.toString().toUtf8() + " invite=" + invite + " tour="
                                 + evaluate(QStringLiteral("tour.running ? tour.phase + ':' + tour.idx : 'idle'")).toString().toUtf8()
                                 + " recording="
                                 + QByteArray::number(evaluate(QStringLiteral("Number(Engine.recordingState)")).toInt());
        if (state != m_lastState) {
            m_lastState = state;
            report(state);
        }
    }

    // False once there is nothing more to do for the recording.
    bool recordStep()
    {
        if (m_recordDone)
            return false;
        if (!m_sessionSeen) {
            if (!evaluate(QStringLiteral("Engine.sessionRunning")).toBool())
                return true;
            m_sessionSeen = true;
            report("session running");
        }
        if (m_recordPath.isEmpty()) {
            m_recordDone = true;
            return false;
        }
        if (!m_recordingAsked) {
            m_recordingAsked = true;
            const QString path = QString::fromUtf8(
                QJsonDocument(QJsonArray {m_recordPath}).toJson(QJsonDocument::Compact).mid(1).chopped(1));
            const bool started =
                evaluate(QStringLiteral("Engine.startRecording(%1, {title: \"Stopped by a signal\"})").arg(path))
                    .toBool();
            report(QByteArray("startRecording returned ") + (started ? "true" : "false"));
            m_recordDone = !started;
            return started;
        }
        const qlonglong elapsedMs = evaluate(QStringLiteral("Engine.recordingElapsedMs")).toLongLong();
        if (evaluate(QStringLiteral("Engine.recordingState === Engine.Recording")).toBool()
            && elapsedMs >= kRecordedEnoughMs) {
            report("recording for " + QByteArray::number(elapsedMs) + " ms");
            m_recordDone = true;
        }
        return !m_recordDone;
    }

    QString m_recordPath;
    bool m_watch = false;
    QByteArray m_lastState;
    QSocketNotifier* m_input = nullptr;
    QByteArray m_pendingInput;
    QTimer m_timer;
    bool m_recordDone = false;
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
