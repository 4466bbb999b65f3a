#pragma once

// The scene element `VideoPanel`: one engine panel, drawn inside the scene by
// a PanelRenderNode on Qt's render thread. It creates its panel when the
// component completes, forwards every property change to it through the
// bridge and destroys it with itself. GUI thread, except updatePaintNode
// (render thread, GUI thread blocked). Without OpenGL (the software scene
// graph) it draws a plain placeholder and no GL call is made.

#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

class PanelItem : public QQuickItem {
    Q_OBJECT
    QML_NAMED_ELEMENT(VideoPanel)

    Q_PROPERTY(int delayMs READ delayMs WRITE setDelayMs NOTIFY delayMsChanged)
    Q_PROPERTY(int source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(double rotationDegrees READ rotationDegrees WRITE setRotationDegrees NOTIFY rotationDegreesChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(double panX READ panX WRITE setPanX NOTIFY panXChanged)
    Q_PROPERTY(double panY READ panY WRITE setPanY NOTIFY panYChanged)
    Q_PROPERTY(bool mirror READ mirror WRITE setMirror NOTIFY mirrorChanged)

public:
    explicit PanelItem(QQuickItem* parent = nullptr);
    ~PanelItem() override;

    int delayMs() const { return m_delayMs; }
    void setDelayMs(int delayMs);
    int source() const { return m_source; }
    void setSource(int source);
    double rotationDegrees() const { return m_rotationDegrees; }
    void setRotationDegrees(double rotationDegrees);
    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    double panX() const { return m_panX; }
    void setPanX(double panX);
    double panY() const { return m_panY; }
    void setPanY(double panY);
    bool mirror() const { return m_mirror; }
    void setMirror(bool mirror);

    // The engine panel id, -1 while none exists.
    int panelId() const { return m_panelId; }

signals:
    void delayMsChanged();
    void sourceChanged();
    void rotationDegreesChanged();
    void zoomChanged();
    void panXChanged();
    void panYChanged();
    void mirrorChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void componentComplete() override;
    QSGNode* updatePaintNode(QSGNode* oldNode, UpdatePaintNodeData* data) override;

private:
    void pushParams();

    int m_delayMs = 0;            // 0 = live
    int m_source = 0;             // camera slot
    double m_rotationDegrees = 0.0;
    double m_zoom = 1.0;
    double m_panX = 0.0;          // logical pixels (the engine gets device pixels)
    double m_panY = 0.0;
    bool m_mirror = false;
    int m_panelId = -1;
};
