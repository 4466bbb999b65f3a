#include "FakeEngine.h"

FakeEngine::FakeEngine(QObject* parent)
    : QObject(parent)
{
    reset();
}

void FakeEngine::reset()
{
    m_ready = true;
    m_capabilitiesSummary = QStringLiteral("fake engine");
    m_cameras = { QVariantMap{ { "name", "Test Pattern" }, { "id", "test" } } };
    m_dualCameraSupported = false;
    m_maxCaptureHeight = 720;
    m_sessionRunning = false;
    m_sessionHealthy = true;
    m_cameraStalled = false;
    m_recordingState = Idle;
    m_recordingElapsedMs = 0;
    m_sharing = false;
    m_shareInfo.clear();
    m_buildLabel = QStringLiteral("test build");
    m_failStartSession = false;
    m_failStartRecording = false;
    m_failStartSharing = false;
    m_failMessage = QStringLiteral("Simulated failure");
    m_nextShareCode = QStringLiteral("XY7");
    m_recordingsDir = m_tempDir.path();
    m_nextPanelId = 1;
    m_calls.clear();
    emit readyChanged();
    emit sessionRunningChanged();
    emit sessionHealthyChanged();
    emit cameraStalledChanged();
    emit recordingStateChanged();
    emit recordingElapsedMsChanged();
    emit sharingChanged();
    emit shareInfoChanged();
    emit buildLabelChanged();
    emit knobsChanged();
    emit callsChanged();
}

QVariantList FakeEngine::callsTo(const QString& name) const
{
    QVariantList out;
    for (const QVariant& call : m_calls) {
        const QVariantMap entry = call.toMap();
        if (entry.value("name").toString() == name)
            out.append(QVariant(entry.value("args")));
    }
    return out;
}

void FakeEngine::clearCalls()
{
    m_calls.clear();
    emit callsChanged();
}

void FakeEngine::log(const QString& name, const QVariantList& args)
{
    m_calls.append(QVariantMap{ { "name", name }, { "args", args } });
    emit callsChanged();
}

int FakeEngine::createPanel()
{
    log("createPanel", {});
    return m_nextPanelId++;
}

void FakeEngine::destroyPanel(int panelId) { log("destroyPanel", { panelId }); }

void FakeEngine::setPanelParams(int panelId, int delayMs, int source, double rotationDegrees, double zoom,
                                double panX, double panY, bool mirror)
{
    log("setPanelParams", { panelId, delayMs, source, rotationDegrees, zoom, panX, panY, mirror });
}

bool FakeEngine::startSession(const QVariantList& cameraIds, int resolutionHeight, int bufferSeconds)
{
    log("startSession", { QVariant(cameraIds), resolutionHeight, bufferSeconds });
    if (m_failStartSession) {
        emit error(m_failMessage);
        return false;
    }
    m_cameraStalled = false;
    emit cameraStalledChanged();
    m_sessionRunning = true;
    emit sessionRunningChanged();
    return true;
}

void FakeEngine::stopSession()
{
    log("stopSession", {});
    m_sessionRunning = false;
    m_cameraStalled = false;
    emit sessionRunningChanged();
    emit cameraStalledChanged();
}

bool FakeEngine::startRecording(const QString& outputPath, const QVariantMap& labels)
{
    log("startRecording", { outputPath, labels });
    if (m_failStartRecording) {
        emit error(m_failMessage);
        return false;
    }
    m_recordingElapsedMs = 0;
    emit recordingElapsedMsChanged();
    m_recordingState = Starting;
    emit recordingStateChanged();
    return true;
}

void FakeEngine::stopRecording()
{
    log("stopRecording", {});
    if (m_recordingState == Idle)
        return;
    m_recordingState = Stopping;
    emit recordingStateChanged();
}

void FakeEngine::setShareInfoFor(const QString& code)
{
    const QString address = QStringLiteral("192.168.1.20");
    m_shareInfo = QVariantMap{ { "address", address },
                               { "port", 8080 },
                               { "code", code },
                               { "url", QStringLiteral("http://%1:8080/live.ts?k=%2").arg(address, code) },
                               { "viewers", m_shareInfo.value("viewers", 0) } };
    emit shareInfoChanged();
}

bool FakeEngine::startSharing()
{
    log("startSharing", {});
    if (m_failStartSharing) {
        emit error(m_failMessage);
        return false;
    }
    if (!m_sharing) {
        m_shareInfo.clear();
        setShareInfoFor(QStringLiteral("AB3"));
        m_sharing = true;
        emit sharingChanged();
    }
    return true;
}

void FakeEngine::stopSharing()
{
    log("stopSharing", {});
    m_sharing = false;
    m_shareInfo.clear();
    emit sharingChanged();
    emit shareInfoChanged();
}

QString FakeEngine::regenerateShareCode()
{
    log("regenerateShareCode", {});
    if (m_sharing)
        setShareInfoFor(m_nextShareCode);
    return m_nextShareCode;
}

void FakeEngine::openRecordingsFolder() { log("openRecordingsFolder", {}); }

void FakeEngine::openUrl(const QString& url) { log("openUrl", { url }); }

QString FakeEngine::recordingsDirectory()
{
    log("recordingsDirectory", {});
    return m_recordingsDir;
}
