#pragma once

// The three graphics tiers the program can start on, from the most capable
// to the most conservative, chosen by TVX_QSG_MODE. A tier is settled before
// the GUI application exists: the scene graph reads its settings when it
// starts. Screenshot mode re-runs the program on the next tier when a tier
// fails (see TierRetry).

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>

enum class GlTier {
    OpenGl = 0,    // the OpenGL scene graph on the system's GL
    GlSoft = 1,    // the OpenGL scene graph on Mesa's software rasteriser
    Software = 2,  // Qt's software scene graph: no GL at all
};

// What a tier changes in the process environment and the scene graph.
struct TierSettings {
    QList<QPair<QByteArray, QByteArray>> setVariables;
    QList<QByteArray> unsetVariables;
    // Select Qt's software scene graph through QQuickWindow::setGraphicsApi.
    // The RHI has no "software" backend, so this cannot go through
    // QSG_RHI_BACKEND.
    bool softwareSceneGraph = false;
};

class GraphicsTier {
public:
    GraphicsTier() = delete;

    static constexpr char kModeVariable[] = "TVX_QSG_MODE";

    // The tier for a TVX_QSG_MODE value: exactly "gl-soft" or "software",
    // anything else (also unset) is tier 0.
    static GlTier tierForMode(const QString& mode);
    // The tier of this process, from its environment.
    static GlTier currentTier();
    // The name used in log lines.
    static QString tierName(GlTier tier);
    // 1 after 0, 2 after 1; the software tier has no next one and returns itself.
    static GlTier nextTier(GlTier tier);

    static TierSettings settingsFor(GlTier tier);
    // Applies settingsFor(tier)'s environment to this process. Call before the
    // GUI application exists.
    static void applyEnvironment(GlTier tier);
    // Applies the scene-graph choice. Call after the GUI application exists and
    // before the first window.
    static void applySceneGraph(GlTier tier);

    // The environment of a re-run on `tier`, from this process's environment.
    static QProcessEnvironment retryEnvironment(QProcessEnvironment environment, GlTier tier);
};
