#include "RenderGate.h"

#include "Engine.h"

#include <QOpenGLContext>

RenderGate::RenderGate(lagwell::Engine* engine)
    : m_engine(engine)
{
}

void RenderGate::close()
{
    std::lock_guard lock(m_mutex);
    m_engine = nullptr;
}

// The facade's calls run under the gate's lock: they are the only users of
// it on the render thread, and the GUI thread takes it only in close().
void RenderGate::renderPanel(int panelId, const lagwell::PanelRect& rect, int targetWidth, int targetHeight)
{
    std::lock_guard lock(m_mutex);
    if (!m_engine)
        return;
    ensureResolverLocked();
    m_engine->renderPanel(panelId, rect, targetWidth, targetHeight);
}

void RenderGate::afterFrame()
{
    std::lock_guard lock(m_mutex);
    if (!m_engine)
        return;
    ensureResolverLocked();
    m_engine->afterFrame();
}

void RenderGate::releaseGl()
{
    std::lock_guard lock(m_mutex);
    if (!m_engine)
        return;
    ensureResolverLocked();
    m_engine->releaseGl();
}

void RenderGate::ensureResolverLocked()
{
    if (m_hasResolver)
        return;
    // Looked up in whichever context is current at the time of the call, so
    // a scene graph that is invalidated and rebuilt needs no new resolver.
    m_engine->setGlResolver([](const char* name) -> void (*)() {
        QOpenGLContext* context = QOpenGLContext::currentContext();
        return context ? context->getProcAddress(name) : nullptr;
    });
    m_hasResolver = true;
}
