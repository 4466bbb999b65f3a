#pragma once

// The scene's way into the delay engine, the QML singleton `Engine`. It owns
// the facade lagwell::Engine, runs the capability probe once on a thread of
// its own, turns engine events into property changes and signals on the GUI
// thread, repaints the scene while a session runs, polls health, recording
// progress and share information, and hooks the window's render-thread
// signals to the facade's drawing entry points.
//
// Threads: every member is read and written on the GUI thread only. The probe
// thread and the engine's threads reach the bridge only through an
// EventRelay, which posts to the GUI thread's queue; Qt's render thread
// reaches the facade only through the RenderGate. The share-stop worker calls
// only the facade's stopSharing, and no other start or stop of sharing runs
// until it has been joined.

#include "EngineTypes.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <memory>

class QJSEngine;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;
class QThread;
class RenderGate;

namespace lagwell {
class Engine;
}

class EngineBridge : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Engine)
    QML_SINGLETON

    Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
    Q_PROPERTY(QString capabilitiesSummary READ capabilitiesSummary NOTIFY readyChanged)
    Q_PROPERTY(QVariantList cameras READ cameras NOTIFY readyChanged)
    Q_PROPERTY(bool dualCameraSupported READ dualCameraSupported NOTIFY readyChanged)
    Q_PROPERTY(int maxCaptureHeight READ maxCaptureHeight NOTIFY readyChanged)
    Q_PROPERTY(bool sessionRunning READ sessionRunning NOTIFY sessionRunningChanged)
    Q_PROPERTY(bool sessionHealthy READ sessionHealthy NOTIFY sessionHealthyChanged)
    Q_PROPERTY(bool cameraStalled READ cameraStalled NOTIFY cameraStalledChanged)
    Q_PROPERTY(RecordingUiState recordingState READ recordingState NOTIFY recordingStateChanged)
    Q_PROPERTY(qlonglong recordingElapsedMs READ recordingElapsedMs NOTIFY recordingElapsedMsChanged)
    Q_PROPERTY(bool sharing READ sharing NOTIFY sharingChanged)
    Q_PROPERTY(QVariantMap shareInfo READ shareInfo NOTIFY shareInfoChanged)
    Q_PROPERTY(QString buildLabel READ buildLabel CONSTANT)

public:
    // How long a start waits for a stop still winding down.
    static constexpr int kStartAfterStopWaitMs = 500;

    // The interface's view of the recorder; the numbers equal the engine's.
    enum RecordingUiState { Idle = 0, Starting = 1, Recording = 2, Stopping = 3 };
    Q_ENUM(RecordingUiState)

    explicit EngineBridge(QObject* parent = nullptr);
    ~EngineBridge() override;

    // Factory the QML engine calls on first use; the QML engine owns the result.
    static EngineBridge* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);
    // The bridge that exists now, or null.
    static EngineBridge* instance();

    // Panels (called by VideoPanel). createPanel returns -1 when the engine
    // refused, after error(message).
    Q_INVOKABLE int createPanel();
    Q_INVOKABLE void destroyPanel(int panelId);
    Q_INVOKABLE void setPanelParams(int panelId, int delayMs, int source, double rotationDegrees, double zoom,
                                    double panX, double panY, bool mirror);

    // Fallible operations return false after error(message).
    Q_INVOKABLE bool startSession(const QVariantList& cameraIds, int resolutionHeight, int bufferSeconds);
    Q_INVOKABLE void stopSession();
    Q_INVOKABLE bool startRecording(const QString& outputPath, const QVariantMap& labels);
    Q_INVOKABLE void stopRecording();
    // A start right after a stop waits at most kStartAfterStopWaitMs for
    // that stop to finish, else fails.
    Q_INVOKABLE bool startSharing();
    // Sharing is off for the interface at once; the server winds down on a
    // worker thread ("tvx-share-stop"), so open connections never hold up
    // the GUI thread.
    Q_INVOKABLE void stopSharing();
    // The new room code; empty after error(message).
    Q_INVOKABLE QString regenerateShareCode();
    Q_INVOKABLE void openRecordingsFolder();
    Q_INVOKABLE void openUrl(const QString& url);
    Q_INVOKABLE QString recordingsDirectory();

    bool ready() const { return m_ready; }
    QString capabilitiesSummary() const;
    QVariantList cameras() const;
    bool dualCameraSupported() const { return m_capabilities.dualCameraSupported; }
    int maxCaptureHeight() const { return m_capabilities.maxCaptureHeight; }
    bool sessionRunning() const { return m_sessionRunning; }
    bool sessionHealthy() const { return m_sessionHealthy; }
    bool cameraStalled() const { return m_cameraStalled; }
    RecordingUiState recordingState() const { return m_recordingState; }
    qlonglong recordingElapsedMs() const { return m_recordingElapsedMs; }
    bool sharing() const { return m_sharing; }
    QVariantMap shareInfo() const { return m_shareInfo; }
    QString buildLabel() const;

    // The registered VideoPanel items, updated by the repaint pump.
    void registerPanelItem(QQuickItem* item);
    void unregisterPanelItem(QQuickItem* item);
    // Connects the window's render-thread signals to the facade once per
    // window; starts the repaint pump when a session runs.
    void ensureWindowHooked(QQuickWindow* window);

    // The facade, for the render nodes' synchronisation and for tests.
    lagwell::Engine* engine() const { return m_engine.get(); }
    // Shared with the render nodes: the render thread's only way to the facade.
    std::shared_ptr<RenderGate> renderGate() const { return m_renderGate; }

    // GUI-thread receivers of the probe result and of engine events.
    void onProbeFinished(const lagwell::Capabilities& capabilities);
    void handleEngineEvent(const lagwell::EngineEvent& event);

public slots:
    void pollRecordingState();
    void pollShareInfo();

signals:
    void readyChanged();
    void sessionRunningChanged();
    void sessionHealthyChanged();
    void cameraStalledChanged();
    void recordingStateChanged();
    void recordingElapsedMsChanged();
    void sharingChanged();
    void shareInfoChanged();
    void recordingSaved(const QString& path);
    void recordingFailed(const QString& message);
    void cameraLost();
    void cameraRecovered();
    void error(const QString& message);

private:
    class EventRelay;
    class ProbeResult;

    void setRecordingUiState(RecordingUiState state);
    void repaintStep();
    void healthStep();
    // Makes the session flags and timers follow what the facade really runs.
    void syncSessionWithEngine();
    // Waits up to `timeoutMs` for the share stop on the worker; true when
    // none runs any more (the worker is then joined).
    bool finishShareStop(int timeoutMs);
    // Before the probe result has arrived: waits for the probe that runs,
    // so a session start does not probe a second time, and applies it.
    void finishProbe();
    // Runs an engine call; any std::exception becomes error(message) and false.
    template <typename Call>
    bool guarded(Call&& call);

    bool m_ready = false;
    lagwell::Capabilities m_capabilities;
    bool m_sessionRunning = false;
    bool m_sessionHealthy = true;
    bool m_cameraStalled = false;
    RecordingUiState m_recordingState = Idle;
    qlonglong m_recordingElapsedMs = 0;
    bool m_sharing = false;
    QVariantMap m_shareInfo;
    QTimer m_repaintPump;
    QTimer m_healthTimer;
    QTimer m_recordingPoll;
    QTimer m_sharePoll;
    QPointer<QQuickWindow> m_hookedWindow;
    QSet<QQuickItem*> m_panelItems;

    std::unique_ptr<lagwell::Engine> m_engine;
    std::shared_ptr<RenderGate> m_renderGate;
    std::shared_ptr<EventRelay> m_relay;
    QPointer<QThread> m_probeThread;
    std::shared_ptr<ProbeResult> m_probeResult;
    // The share server's stop while it winds down; null when none runs.
    std::unique_ptr<QThread> m_shareStopThread;
};
