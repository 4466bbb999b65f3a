#include "ScreenshotRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

constexpr int kRetryStartTimeoutMs = 10000;

QByteArray nameOf(GlTier tier)
{
    return GraphicsTier::tierName(tier).toUtf8();
}

}  // namespace

ScreenshotRun::ScreenshotRun(QQuickWindow* window, const QString& path, int afterMs, GlTier tier, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_path(path)
    , m_tier(tier)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(afterMs);
    connect(&m_timer, &QTimer::timeout, this, &ScreenshotRun::grab);
    // Without a receiver Qt ends the process on a scene-graph failure; here
    // it ends only this tier, so the next one gets its turn.
    if (window)
        connect(window, &QQuickWindow::sceneGraphError, this, &ScreenshotRun::onSceneGraphError);
}

int ScreenshotRun::exec()
{
    m_exitCode = kNoImage;
    m_timer.start();
    QCoreApplication::exec();
    m_timer.stop();
    return m_exitCode;
}

void ScreenshotRun::grab()
{
    if (!m_window) {
        qCritical("--screenshot: no QQuickWindow appeared");
        m_exitCode = kNoImage;
        QCoreApplication::exit(m_exitCode);
        return;
    }
    m_exitCode = saveImage(m_window->grabWindow(), m_path, m_tier);
    QCoreApplication::exit(m_exitCode);
}

void ScreenshotRun::onSceneGraphError(QQuickWindow::SceneGraphError error, const QString& message)
{
    qWarning("--screenshot: the scene graph failed under %s (error %d: %s)", nameOf(m_tier).constData(),
             int(error), qUtf8Printable(message));
    m_timer.stop();
    m_exitCode = kNoImage;
    QCoreApplication::exit(m_exitCode);
}

int ScreenshotRun::saveImage(const QImage& image, const QString& path, GlTier tier)
{
    if (image.isNull()) {
        qWarning("--screenshot: grabWindow() returned a null image under %s", nameOf(tier).constData());
        return kNullGrab;
    }
    const QFileInfo file(path);
    // A failure here shows as the save failing below.
    QDir().mkpath(file.absolutePath());
    if (!image.save(path)) {
        qCritical("--screenshot: failed to save '%s'", qUtf8Printable(path));
        return kSaveFailed;
    }
    qInfo("--screenshot: saved '%s' (%dx%d) via %s", qUtf8Printable(path), image.width(), image.height(),
          nameOf(tier).constData());
    return kSaved;
}

std::optional<GlTier> ScreenshotRun::retryTierAfter(GlTier tier, int code)
{
    if (code == kSaved || tier == GlTier::Software)
        return std::nullopt;
    return GraphicsTier::nextTier(tier);
}

ScreenshotRun::ChildOutcome ScreenshotRun::childOutcome(GlTier childTier, bool crashed, int childExitCode)
{
    ChildOutcome outcome;
    if (!crashed) {
        outcome.exitCode = childExitCode;
        return outcome;
    }
    // A crash (a GL driver fault, say) is the child's tier failing: it could
    // not re-run itself, so this process does it.
    outcome.exitCode = kNoImage;
    outcome.retryTier = retryTierAfter(childTier, kNoImage);
    return outcome;
}

int ScreenshotRun::runNextTier(GlTier tier, const QStringList& arguments)
{
    qWarning("--screenshot: %s did not produce a usable image, retrying with %s",
             nameOf(GraphicsTier::currentTier()).constData(), nameOf(tier).constData());
    for (;;) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments(arguments);
        child.setProcessEnvironment(
            GraphicsTier::retryEnvironment(QProcessEnvironment::systemEnvironment(), tier));
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start();
        if (!child.waitForStarted(kRetryStartTimeoutMs)) {
            qCritical("--screenshot: could not start the %s retry process", nameOf(tier).constData());
            return kRetryNotStarted;
        }
        child.waitForFinished(-1);
        const ChildOutcome outcome =
            childOutcome(tier, child.exitStatus() == QProcess::CrashExit, child.exitCode());
        if (child.exitStatus() == QProcess::CrashExit)
            qCritical("--screenshot: the %s retry process crashed", nameOf(tier).constData());
        if (!outcome.retryTier)
            return outcome.exitCode;
        qWarning("--screenshot: %s did not produce a usable image, retrying with %s", nameOf(tier).constData(),
                 nameOf(*outcome.retryTier).constData());
        tier = *outcome.retryTier;
    }
}
