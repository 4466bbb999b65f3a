#pragma once

// Screenshot mode: show the window, grab it after a delay, save it and end
// the program with a code that says how that went. A failure on a GL tier
// re-runs the program itself on the next, more conservative tier and takes
// that run's code; at most three processes run in a chain, each waiting for
// the next. GUI thread only.

#include "GraphicsTier.h"

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

class QImage;

class ScreenshotRun : public QObject {
    Q_OBJECT

public:
    // Exit codes of screenshot mode.
    static constexpr int kSaved = 0;
    static constexpr int kNoImage = 1;       // no window, or the event loop ended before the grab
    static constexpr int kNullGrab = 2;
    static constexpr int kSaveFailed = 3;
    static constexpr int kNotLoaded = -1;    // the window document failed to load
    static constexpr int kRetryNotStarted = -1;

    ScreenshotRun(QQuickWindow* window, const QString& path, int afterMs, GlTier tier, QObject* parent = nullptr);

    // Runs the application's event loop until the grab has ended it, or until
    // it ends otherwise (window closed, scene graph failure); returns the
    // exit code of this tier (kNoImage unless the grab step ran).
    int exec();

    // The grab step after grabWindow(): logs, creates the directories of the
    // path, saves. Returns kNullGrab, kSaveFailed or kSaved.
    static int saveImage(const QImage& image, const QString& path, GlTier tier);

    // The tier to re-run on after `code` on `tier`; none when the code stands
    // (success, or the last tier).
    static std::optional<GlTier> retryTierAfter(GlTier tier, int code);

    // How a finished re-run on `childTier` ends this process: its code, or,
    // when it crashed on a GL tier, a re-run on the tier after it.
    struct ChildOutcome {
        int exitCode = kNoImage;
        std::optional<GlTier> retryTier;
    };
    static ChildOutcome childOutcome(GlTier childTier, bool crashed, int childExitCode);

    // Runs the program again on `tier` with `arguments` (without the program
    // path), output forwarded, and returns the code that ends the chain.
    static int runNextTier(GlTier tier, const QStringList& arguments);

private:
    void grab();
    void onSceneGraphError(QQuickWindow::SceneGraphError error, const QString& message);

    QPointer<QQuickWindow> m_window;
    QString m_path;
    GlTier m_tier;
    QTimer m_timer;
    int m_exitCode = kNoImage;
};
