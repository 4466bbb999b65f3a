#pragma once

// A test double of the singleton `Engine` for the states the test pattern
// cannot produce (two cameras, a lost camera, recording states, sharing on).
// Every property is writable from a test; every operation is logged in
// `calls` and behaves as the real bridge does in outline; the signals can be
// raised by calling them.

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

class FakeEngine : public QObject {
    Q_OBJECT

    Q_PROPERTY(bool ready MEMBER m_ready NOTIFY readyChanged)
    Q_PROPERTY(QString capabilitiesSummary MEMBER m_capabilitiesSummary NOTIFY readyChanged)
    Q_PROPERTY(QVariantList cameras MEMBER m_cameras NOTIFY readyChanged)
    Q_PROPERTY(bool dualCameraSupported MEMBER m_dualCameraSupported NOTIFY readyChanged)
    Q_PROPERTY(int maxCaptureHeight MEMBER m_maxCaptureHeight NOTIFY readyChanged)
    Q_PROPERTY(bool sessionRunning MEMBER m_sessionRunning NOTIFY sessionRunningChanged)
    Q_PROPERTY(bool sessionHealthy MEMBER m_sessionHealthy NOTIFY sessionHealthyChanged)
    Q_PROPERTY(bool cameraStalled MEMBER m_cameraStalled NOTIFY cameraStalledChanged)
    Q_PROPERTY(int recordingState MEMBER m_recordingState NOTIFY recordingStateChanged)
    Q_PROPERTY(qlonglong recordingElapsedMs MEMBER m_recordingElapsedMs NOTIFY recordingElapsedMsChanged)
    Q_PROPERTY(bool sharing MEMBER m_sharing NOTIFY sharingChanged)
    Q_PROPERTY(QVariantMap shareInfo MEMBER m_shareInfo NOTIFY shareInfoChanged)
    Q_PROPERTY(QString buildLabel MEMBER m_buildLabel NOTIFY buildLabelChanged)
    // Knobs of the double.
    Q_PROPERTY(bool failStartSession MEMBER m_failStartSession NOTIFY knobsChanged)
    Q_PROPERTY(bool failStartRecording MEMBER m_failStartRecording NOTIFY knobsChanged)
    Q_PROPERTY(bool failStartSharing MEMBER m_failStartSharing NOTIFY knobsChanged)
    Q_PROPERTY(QString failMessage MEMBER m_failMessage NOTIFY knobsChanged)
    Q_PROPERTY(QString nextShareCode MEMBER m_nextShareCode NOTIFY knobsChanged)
    Q_PROPERTY(QString recordingsDir MEMBER m_recordingsDir NOTIFY knobsChanged)

    Q_PROPERTY(QVariantList calls READ calls NOTIFY callsChanged)

public:
    // The same numbers as the real bridge's RecordingUiState.
    enum RecordingUiState { Idle = 0, Starting = 1, Recording = 2, Stopping = 3 };
    Q_ENUM(RecordingUiState)

    explicit FakeEngine(QObject* parent = nullptr);

    QVariantList calls() const { return m_calls; }
    Q_INVOKABLE QVariantList callsTo(const QString& name) const;
    Q_INVOKABLE void clearCalls();
    Q_INVOKABLE void reset();

    Q_INVOKABLE int createPanel();
    Q_INVOKABLE void destroyPanel(int panelId);
    Q_INVOKABLE void setPanelParams(int panelId, int delayMs, int source, double rotationDegrees, double zoom,
                                    double panX, double panY, bool mirror);
    Q_INVOKABLE bool startSession(const QVariantList& cameraIds, int resolutionHeight, int bufferSeconds);
    Q_INVOKABLE void stopSession();
    Q_INVOKABLE bool startRecording(const QString& outputPath, const QVariantMap& labels);
    Q_INVOKABLE void stopRecording();
    Q_INVOKABLE bool startSharing();
    Q_INVOKABLE void stopSharing();
    Q_INVOKABLE QString regenerateShareCode();
    Q_INVOKABLE void openRecordingsFolder();
    Q_INVOKABLE void openUrl(const QString& url);
    Q_INVOKABLE QString recordingsDirectory();

signals:
    void readyChanged();
    void sessionRunningChanged();
    void sessionHealthyChanged();
    void cameraStalledChanged();
    void recordingStateChanged();
    void recordingElapsedMsChanged();
    void sharingChanged();
    void shareInfoChanged();
    void buildLabelChanged();
    void knobsChanged();
    void callsChanged();
    void recordingSaved(const QString& path);
    void recordingFailed(const QString& message);
    void cameraLost();
    void cameraRecovered();
    void error(const QString& message);

private:
    void log(const QString& name, const QVariantList& args);
    void setShareInfoFor(const QString& code);

    bool m_ready{};
    QString m_capabilitiesSummary{};
    QVariantList m_cameras{};
    bool m_dualCameraSupported{};
    int m_maxCaptureHeight{};
    bool m_sessionRunning{};
    bool m_sessionHealthy{};
    bool m_cameraStalled{};
    int m_recordingState{};
    qlonglong m_recordingElapsedMs{};
    bool m_sharing{};
    QVariantMap m_shareInfo{};
    QString m_buildLabel{};
    bool m_failStartSession{};
    bool m_failStartRecording{};
    bool m_failStartSharing{};
    QString m_failMessage{};
    QString m_nextShareCode{};
    QString m_recordingsDir{};
    QVariantList m_calls;
    int m_nextPanelId = 1;
    QTemporaryDir m_tempDir;
};
