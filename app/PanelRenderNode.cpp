#include "PanelRenderNode.h"

#include "RenderGate.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int kMaxTraceLines = 3;

}  // namespace

PanelRenderNode::~PanelRenderNode() = default;

void PanelRenderNode::configure(std::shared_ptr<RenderGate> gate, int panelId, const QRectF& sceneRect,
                                qreal devicePixelRatio, const QSize& windowSize)
{
    m_gate = std::move(gate);
    m_panelId = panelId;
    m_sceneRect = sceneRect;
    m_devicePixelRatio = devicePixelRatio;
    m_windowSize = windowSize;
}

QSGRenderNode::StateFlags PanelRenderNode::changedStates() const
{
    return DepthState | ScissorState | BlendState | CullState | ViewportState;
}

// The scene graph brackets this call as external GL content: its own
// recorded work runs first and its state is re-applied afterwards.
void PanelRenderNode::render(const RenderState*)
{
    if (!m_gate || m_panelId < 0)
        return;
    const qreal dpr = m_devicePixelRatio;
    lagwell::PanelRect rect;
    rect.x = static_cast<int32_t>(std::lround(dpr * m_sceneRect.x()));
    rect.y = static_cast<int32_t>(std::lround(dpr * m_sceneRect.y()));
    rect.width = static_cast<int32_t>(std::lround(dpr * m_sceneRect.width()));
    rect.height = static_cast<int32_t>(std::lround(dpr * m_sceneRect.height()));
    const int targetWidth = static_cast<int>(std::lround(m_windowSize.width() * dpr));
    const int targetHeight = static_cast<int>(std::lround(m_windowSize.height() * dpr));

    static const bool traceOn = qEnvironmentVariableIsSet("TAVRIX_DEBUG_RENDER");
    if (traceOn && m_traceCount < kMaxTraceLines) {
        ++m_traceCount;
        std::fprintf(stderr, "PanelRenderNode: panel %d rect %d,%d %dx%d in %dx%d (dpr %.2f)\n", m_panelId,
                     rect.x, rect.y, rect.width, rect.height, targetWidth, targetHeight, double(dpr));
    }
    m_gate->renderPanel(m_panelId, rect, targetWidth, targetHeight);
}

QSGRenderNode::RenderingFlags PanelRenderNode::flags() const
{
    return BoundedRectRendering;
}

QRectF PanelRenderNode::rect() const
{
    return QRectF(0.0, 0.0, m_sceneRect.width(), m_sceneRect.height());
}
