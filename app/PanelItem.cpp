#include "PanelItem.h"

#include "EngineBridge.h"
#include "PanelRenderNode.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSGSimpleRectNode>

#include <cmath>
#include <cstdio>

namespace {

// What a panel shows where the scene graph has no OpenGL.
const QColor kPlaceholderColor(0x20, 0x20, 0x20);

// Qt's fuzzy comparison, except that a 0 on either side compares by absolute
// difference, so a size that leaves or reaches 0 still counts as the same
// only when it really is.
bool sameSizeComponent(qreal a, qreal b)
{
    if (a == 0.0 || b == 0.0)
        return std::abs(a - b) <= 1e-12;
    return qFuzzyCompare(a, b);
}

bool windowDrawsWithOpenGl(QQuickWindow* window)
{
    QSGRendererInterface* renderer = window ? window->rendererInterface() : nullptr;
    return renderer && renderer->graphicsApi() == QSGRendererInterface::OpenGL;
}

}  // namespace

PanelItem::PanelItem(QQuickItem* parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

PanelItem::~PanelItem()
{
    EngineBridge* bridge = EngineBridge::instance();
    if (!bridge)
        return;
    bridge->unregisterPanelItem(this);
    if (m_panelId >= 0)
        bridge->destroyPanel(m_panelId);
}

void PanelItem::setDelayMs(int delayMs)
{
    if (delayMs == m_delayMs)
        return;
    m_delayMs = delayMs;
    pushParams();
    emit delayMsChanged();
}

void PanelItem::setSource(int source)
{
    if (source == m_source)
        return;
    m_source = source;
    pushParams();
    emit sourceChanged();
}

void PanelItem::setRotationDegrees(double rotationDegrees)
{
    if (qFuzzyCompare(rotationDegrees, m_rotationDegrees))
        return;
    m_rotationDegrees = rotationDegrees;
    pushParams();
    emit rotationDegreesChanged();
}

void PanelItem::setZoom(double zoom)
{
    if (qFuzzyCompare(zoom, m_zoom))
        return;
    m_zoom = zoom;
    pushParams();
    emit zoomChanged();
}

void PanelItem::setPanX(double panX)
{
    if (qFuzzyCompare(panX, m_panX))
        return;
    m_panX = panX;
    pushParams();
    emit panXChanged();
}

void PanelItem::setPanY(double panY)
{
    if (qFuzzyCompare(panY, m_panY))
        return;
    m_panY = panY;
    pushParams();
    emit panYChanged();
}

void PanelItem::setMirror(bool mirror)
{
    if (mirror == m_mirror)
        return;
    m_mirror = mirror;
    pushParams();
    emit mirrorChanged();
}

void PanelItem::pushParams()
{
    EngineBridge* bridge = EngineBridge::instance();
    if (m_panelId < 0 || !bridge)
        return;
    // The engine draws in device pixels; the pan is given in logical ones.
    QQuickWindow* itemWindow = window();
    const double scale = itemWindow ? itemWindow->effectiveDevicePixelRatio() : 1.0;
    bridge->setPanelParams(m_panelId, m_delayMs, m_source, m_rotationDegrees, m_zoom, m_panX * scale,
                           m_panY * scale, m_mirror);
}

void PanelItem::itemChange(ItemChange change, const ItemChangeData& value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemDevicePixelRatioHasChanged) {
        pushParams();
        return;
    }
    if (change != ItemSceneChange || !value.window)
        return;
    if (EngineBridge* bridge = EngineBridge::instance())
        bridge->ensureWindowHooked(value.window);
    pushParams();
}

void PanelItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (!sameSizeComponent(newGeometry.width(), oldGeometry.width())
        || !sameSizeComponent(newGeometry.height(), oldGeometry.height()))
        update();
}

void PanelItem::componentComplete()
{
    QQuickItem::componentComplete();
    EngineBridge* bridge = EngineBridge::instance();
    if (!bridge)
        return;
    m_panelId = bridge->createPanel();
    bridge->registerPanelItem(this);
    // The item may have entered its window before the bridge existed (a
    // window document that first names `Engine` in a binding): hook it now.
    bridge->ensureWindowHooked(window());
    pushParams();
}

QSGNode* PanelItem::updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData*)
{
    if (width() <= 0.0 || height() <= 0.0) {
        delete oldNode;
        return nullptr;
    }

    QQuickWindow* itemWindow = window();
    if (!windowDrawsWithOpenGl(itemWindow)) {
        auto* placeholder = dynamic_cast<QSGSimpleRectNode*>(oldNode);
        if (!placeholder) {
            delete oldNode;
            placeholder = new QSGSimpleRectNode();
            placeholder->setColor(kPlaceholderColor);
        }
        placeholder->setRect(boundingRect());
        return placeholder;
    }

    auto* node = dynamic_cast<PanelRenderNode*>(oldNode);
    const bool created = !node;
    if (created) {
        delete oldNode;
        node = new PanelRenderNode();
    }

    EngineBridge* bridge = EngineBridge::instance();
    std::shared_ptr<RenderGate> gate = bridge ? bridge->renderGate() : nullptr;

    static const bool traceOn = qEnvironmentVariableIsSet("TAVRIX_DEBUG_RENDER");
    if (traceOn && created)
        std::fprintf(stderr, "PanelItem: node created for panel %d at %.1fx%.1f\n", m_panelId, width(), height());

    // The GUI thread is blocked here, so the window's geometry can be read;
    // the node keeps copies for its render() outside the synchronisation.
    const QRectF sceneRect = mapRectToScene(QRectF(0.0, 0.0, width(), height()));
    node->configure(std::move(gate), m_panelId, sceneRect, itemWindow->effectiveDevicePixelRatio(),
                    itemWindow->size());
    return node;
}
