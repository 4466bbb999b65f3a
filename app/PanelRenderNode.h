#pragma once

// Draws one engine panel into the window on Qt's render thread. Everything
// it draws with is handed over by configure() during the scene graph's
// synchronisation; render() reads only these fields, never the item or the
// window, which the GUI thread may be changing meanwhile.

#include <QRectF>
#include <QSGRenderNode>
#include <QSize>

#include <memory>

class RenderGate;

class PanelRenderNode : public QSGRenderNode {
public:
    PanelRenderNode() = default;
    ~PanelRenderNode() override;

    // Render thread, GUI thread blocked. sceneRect is the item's rectangle in
    // window logical pixels; windowSize the window's logical size.
    void configure(std::shared_ptr<RenderGate> gate, int panelId, const QRectF& sceneRect,
                   qreal devicePixelRatio, const QSize& windowSize);

    StateFlags changedStates() const override;
    void render(const RenderState* state) override;
    RenderingFlags flags() const override;
    QRectF rect() const override;

private:
    std::shared_ptr<RenderGate> m_gate;  // null: nothing to draw with
    int m_panelId = -1;
    QRectF m_sceneRect;
    qreal m_devicePixelRatio = 1.0;
    QSize m_windowSize;
    int m_traceCount = 0;  // render trace lines printed by this node
};
