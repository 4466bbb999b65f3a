#include "GraphicsTier.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtGlobal>

namespace {

constexpr char kRhiBackendVariable[] = "QSG_RHI_BACKEND";
constexpr char kSoftwareGlVariable[] = "LIBGL_ALWAYS_SOFTWARE";
constexpr char kModeGlSoft[] = "gl-soft";
constexpr char kModeSoftware[] = "software";

}  // namespace

GlTier GraphicsTier::tierForMode(const QString& mode)
{
    if (mode == QLatin1String(kModeGlSoft))
        return GlTier::GlSoft;
    if (mode == QLatin1String(kModeSoftware))
        return GlTier::Software;
    return GlTier::OpenGl;
}

GlTier GraphicsTier::currentTier()
{
    return tierForMode(qEnvironmentVariable(kModeVariable));
}

QString GraphicsTier::tierName(GlTier tier)
{
    switch (tier) {
    case GlTier::OpenGl:
        return QStringLiteral("opengl (real GL context)");
    case GlTier::GlSoft:
        return QStringLiteral("opengl + LIBGL_ALWAYS_SOFTWARE=1 (Mesa software GL)");
    case GlTier::Software:
        return QStringLiteral("QSG_RHI_BACKEND=software (no GL; panels are placeholders)");
    }
    return QString();
}

GlTier GraphicsTier::nextTier(GlTier tier)
{
    return tier == GlTier::OpenGl ? GlTier::GlSoft : GlTier::Software;
}

TierSettings GraphicsTier::settingsFor(GlTier tier)
{
    TierSettings settings;
    switch (tier) {
    case GlTier::OpenGl:
        settings.setVariables = {{kRhiBackendVariable, "opengl"}};
        break;
    case GlTier::GlSoft:
        settings.setVariables = {{kRhiBackendVariable, "opengl"}, {kSoftwareGlVariable, "1"}};
        break;
    case GlTier::Software:
        // A value inherited from a parent on a GL tier would name an RHI
        // backend the software scene graph does not use.
        settings.unsetVariables = {kRhiBackendVariable};
        settings.softwareSceneGraph = true;
        break;
    }
    return settings;
}

void GraphicsTier::applyEnvironment(GlTier tier)
{
    const TierSettings settings = settingsFor(tier);
    for (const auto& [name, value] : settings.setVariables)
        qputenv(name.constData(), value);
    for (const QByteArray& name : settings.unsetVariables)
        qunsetenv(name.constData());
}

void GraphicsTier::applySceneGraph(GlTier tier)
{
    if (settingsFor(tier).softwareSceneGraph)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

QProcessEnvironment GraphicsTier::retryEnvironment(QProcessEnvironment environment, GlTier tier)
{
    switch (tier) {
    case GlTier::OpenGl:
        environment.remove(QString::fromLatin1(kModeVariable));
        break;
    case GlTier::GlSoft:
        environment.insert(QString::fromLatin1(kModeVariable), QString::fromLatin1(kModeGlSoft));
        break;
    case GlTier::Software:
        environment.insert(QString::fromLatin1(kModeVariable), QString::fromLatin1(kModeSoftware));
        environment.remove(QString::fromLatin1(kSoftwareGlVariable));
        environment.remove(QString::fromLatin1(kRhiBackendVariable));
        break;
    }
    return environment;
}
