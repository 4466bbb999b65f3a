#include "RenderEngine.h"

#include "Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace lagwell {
namespace {

using Matrix = std::array<float, 16>;  // column-major

constexpr float kPi = 3.1415927f;
constexpr Matrix kIdentity {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix multiply(const Matrix& a, const Matrix& b)
{
    Matrix out {};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
    }
    return out;
}

Matrix scale(float x, float y)
{
    Matrix out = kIdentity;
    out[0] = x;
    out[5] = y;
    return out;
}

Matrix translation(float x, float y)
{
    Matrix out = kIdentity;
    out[12] = x;
    out[13] = y;
    return out;
}

Matrix rotation(int degrees)
{
    const float radians = static_cast<float>(degrees) * kPi / 180.0f;
    const float c = std::cos(radians);
    const float s = std::sin(radians);
    Matrix out = kIdentity;
    out[0] = c;
    out[1] = s;
    out[4] = -s;
    out[5] = c;
    return out;
}

// Whole degrees in 0..359. Reduced before rounding so that no rotation,
// however large or not finite, overflows an integer.
int effectiveAngle(float panelDegrees, int frameRotation)
{
    const float reduced = std::isfinite(panelDegrees) ? std::fmod(panelDegrees, 360.0f) : 0.0f;
    int angle = (static_cast<int>(std::lroundf(reduced)) + frameRotation % 360) % 360;
    if (angle < 0)
        angle += 360;
    return angle;
}

// The GL state the host's renderer relies on that drawing changes, short
// of the framebuffer and the viewport.
class SavedDrawState {
public:
    explicit SavedDrawState(const GlFunctions& gl) : m_gl(gl)
    {
        m_gl.glGetIntegerv(GL_SCISSOR_BOX, m_scissorBox);
        m_gl.glGetFloatv(GL_COLOR_CLEAR_VALUE, m_clearColor);
        m_gl.glGetIntegerv(GL_CURRENT_PROGRAM, &m_program);
        m_gl.glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &m_arrayBuffer);
        m_gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &m_activeTexture);
        m_gl.glGetIntegerv(GL_UNPACK_ALIGNMENT, &m_unpackAlignment);
        m_blend = m_gl.glIsEnabled(GL_BLEND) == GL_TRUE;
        m_scissor = m_gl.glIsEnabled(GL_SCISSOR_TEST) == GL_TRUE;
    }
    SavedDrawState(const SavedDrawState&) = delete;
    SavedDrawState& operator=(const SavedDrawState&) = delete;

    void restore() const
    {
        m_gl.glScissor(m_scissorBox[0], m_scissorBox[1], m_scissorBox[2], m_scissorBox[3]);
        if (m_scissor)
            m_gl.glEnable(GL_SCISSOR_TEST);
        else
            m_gl.glDisable(GL_SCISSOR_TEST);
        if (m_blend)
            m_gl.glEnable(GL_BLEND);
        else
            m_gl.glDisable(GL_BLEND);
        m_gl.glClearColor(m_clearColor[0], m_clearColor[1], m_clearColor[2], m_clearColor[3]);
        m_gl.glPixelStorei(GL_UNPACK_ALIGNMENT, m_unpackAlignment);
        m_gl.glActiveTexture(static_cast<GLenum>(m_activeTexture));
        m_gl.glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(m_arrayBuffer));
        m_gl.glUseProgram(static_cast<GLuint>(m_program));
    }

private:
    const GlFunctions& m_gl;
    GLint m_scissorBox[4] = {};
    GLfloat m_clearColor[4] = {};
    GLint m_program = 0;
    GLint m_arrayBuffer = 0;
    GLint m_activeTexture = GL_TEXTURE0;
    GLint m_unpackAlignment = 4;
    bool m_blend = false;
    bool m_scissor = false;
};

// The GL state the host's renderer relies on around a composite.
class SavedCompositeState {
public:
    explicit SavedCompositeState(const GlFunctions& gl) : m_gl(gl), m_draw(gl)
    {
        m_gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &m_framebuffer);
        m_gl.glGetIntegerv(GL_VIEWPORT, m_viewport);
    }
    SavedCompositeState(const SavedCompositeState&) = delete;
    SavedCompositeState& operator=(const SavedCompositeState&) = delete;

    void restore() const
    {
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(m_framebuffer));
        m_gl.glViewport(m_viewport[0], m_viewport[1], m_viewport[2], m_viewport[3]);
        m_draw.restore();
    }

private:
    const GlFunctions& m_gl;
    const SavedDrawState m_draw;
    GLint m_framebuffer = 0;
    GLint m_viewport[4] = {};
};

// The bounding box of the panels with an area; false when none has one.
bool panelBox(const std::vector<PanelDraw>& panels, int* left, int* top, int* width, int* height)
{
    bool anyPanel = false;
    int32_t boxLeft = 0;
    int32_t boxTop = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    for (const PanelDraw& panel : panels) {
        const PanelRect& r = panel.rect;
        if (r.width <= 0 || r.height <= 0)
            continue;
        const int32_t panelRight = r.x + r.width;
        const int32_t panelBottom = r.y + r.height;
        boxLeft = anyPanel ? std::min(boxLeft, r.x) : r.x;
        boxTop = anyPanel ? std::min(boxTop, r.y) : r.y;
        right = anyPanel ? std::max(right, panelRight) : panelRight;
        bottom = anyPanel ? std::max(bottom, panelBottom) : panelBottom;
        anyPanel = true;
    }
    *left = boxLeft;
    *top = boxTop;
    *width = std::max(1, right - boxLeft);
    *height = std::max(1, bottom - boxTop);
    return anyPanel;
}

// The picture fills its whole panel: the cover fit, turned by a multiple
// of 90 degrees, neither zoomed out nor moved.
bool coversItsPanel(const PanelParams& params, int frameRotation)
{
    return params.zoom >= 1.0f && params.panX == 0.0f && params.panY == 0.0f &&
           effectiveAngle(params.rotationDegrees, frameRotation) % 90 == 0;
}

// The boxes cover the width x height target exactly, without overlap.
bool boxesTile(const std::vector<std::pair<int, PanelRect>>& boxes, int width, int height)
{
    int64_t area = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const PanelRect& a = boxes[i].second;
        if (a.x < 0 || a.y < 0 || a.x + a.width > width || a.y + a.height > height)
            return false;
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            const PanelRect& b = boxes[j].second;
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height)
                return false;
        }
        area += int64_t {a.width} * a.height;
    }
    return area == int64_t {width} * height;
}

int64_t steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RenderEngine::RenderEngine(GlResolver resolver)
    : m_quads(m_gl),
      m_overlayPainter(m_gl),
      m_resolver(std::move(resolver)),
      m_sinks(std::make_shared<const std::vector<CompositeSink*>>()),
      m_overlay(std::make_shared<const OverlayState>())
{
}

void RenderEngine::setGlResolver(GlResolver resolver)
{
    m_resolver = std::move(resolver);
    m_glNoticePrinted = false;
}

bool RenderEngine::ensureGl()
{
    if (m_gl.isLoaded())
        return true;
    if (m_glNoticePrinted)
        return false;
    std::string error;
    if (m_gl.load(m_resolver, &error))
        return true;
    logPlain("RenderEngine: %s", error.c_str());
    m_glNoticePrinted = true;
    return false;
}

void RenderEngine::drawPanel(int panelId, const DecodedFrame* frame, const PanelParams& params, const PanelRect& rect,
                             int windowWidth, int windowHeight)
{
    if (windowWidth <= 0 || windowHeight <= 0 || rect.width <= 0 || rect.height <= 0)
        return;
    if (!ensureGl())
        return;

    const SavedDrawState saved(m_gl);

    // The window's top-left origin becomes OpenGL's bottom-left one.
    const GLint viewportY = windowHeight - rect.y - rect.height;
    m_gl.glViewport(rect.x, viewportY, rect.width, rect.height);
    m_gl.glEnable(GL_SCISSOR_TEST);
    m_gl.glScissor(rect.x, viewportY, rect.width, rect.height);
    m_gl.glClearColor(0.02f, 0.02f, 0.02f, 1.0f);
    m_gl.glClear(GL_COLOR_BUFFER_BIT);

    bool drewPicture = false;
    if (frame) {
        m_quads.upload(panelId, *frame);
        if (m_quads.hasTexture(panelId)) {
            float mvp[16];
            buildPanelMvp(mvp, rect.width, rect.height, frame->width, frame->height, params, frame->rotationDeg,
                          1.0f);
            m_quads.drawPanel(panelId, mvp);
            drewPicture = true;
        }
    }
    if (!drewPicture) {
        m_quads.ensureInit();
        m_quads.drawSolid(0.1f, 0.1f, 0.11f, 1.0f, kIdentity.data());
    }
    m_panelDrawMeter.count(steadyNowMs());

    m_gl.glViewport(0, 0, windowWidth, windowHeight);
    saved.restore();
}

void RenderEngine::forgetPanel(int panelId)
{
    m_quads.forget(panelId);
}

void RenderEngine::releaseGl()
{
    // The slot clocks stay: a target made again for a size still wanted
    // continues its timestamps.
    deleteAllTargets();
    m_overlayPainter.releaseGl();
    m_quads.releaseGl();
    m_gl.clear();
    m_glNoticePrinted = false;
    m_compositeNoticePrinted = false;
}

void RenderEngine::setCompositeSinks(std::vector<CompositeSink*> sinks)
{
    auto list = std::make_shared<const std::vector<CompositeSink*>>(std::move(sinks));
    std::lock_guard lock(m_handOverMutex);
    m_sinks = std::move(list);
}

void RenderEngine::setOverlayState(const OverlayState& state)
{
    auto copy = std::make_shared<const OverlayState>(state);
    std::lock_guard lock(m_handOverMutex);
    m_overlay = std::move(copy);
}

void RenderEngine::deleteTarget(CompositeTarget& target)
{
    target.readback.releaseGl();
    if (target.fbo)
        m_gl.glDeleteFramebuffers(1, &target.fbo);
    if (target.texture)
        m_gl.glDeleteTextures(1, &target.texture);
    target.fbo = 0;
    target.texture = 0;
    target.width = 0;
    target.height = 0;
    target.frameCount = 0;
    target.primed = false;
}

void RenderEngine::deleteAllTargets()
{
    for (auto& [size, target] : m_targets)
        deleteTarget(target);
    m_targets.clear();
}

void RenderEngine::ensureCompositeTarget(CompositeTarget& target, int width, int height)
{
    if (target.fbo && target.width == width && target.height == height)
        return;
    deleteTarget(target);
    target.width = width;
    target.height = height;
    m_gl.glGenTextures(1, &target.texture);
    m_gl.glBindTexture(GL_TEXTURE_2D, target.texture);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    m_gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    m_gl.glGenFramebuffers(1, &target.fbo);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    m_gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.texture, 0);
    const GLenum status = m_gl.glCheckFramebufferStatus(GL_FRAMEBUFFER);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (status != GL_FRAMEBUFFER_COMPLETE)
        logPlain("RenderEngine: composite FBO incomplete (0x%04x) at %dx%d", static_cast<unsigned>(status), width,
                 height);
    target.readback.ensureInit(width, height);
}

void RenderEngine::expectCompositeSize(int width, int height)
{
    std::lock_guard lock(m_handOverMutex);
    m_expectedSize = width > 0 && height > 0 ? SizeKey {width, height} : SizeKey {0, 0};
}

void RenderEngine::compositeIfDue(const std::vector<PanelDraw>& panels, int64_t nowNs)
{
    std::shared_ptr<const std::vector<CompositeSink*>> sinks;
    std::shared_ptr<const OverlayState> overlay;
    SizeKey expected;
    {
        std::lock_guard lock(m_handOverMutex);
        sinks = m_sinks;
        overlay = m_overlay;
        expected = m_expectedSize;
    }

    // Every frame teaches the pacer the window's refresh, composited or not.
    const int64_t slot = m_pacer.onFrame(nowNs);

    m_activeSinks.clear();
    for (CompositeSink* sink : *sinks) {
        if (sink && sink->active())
            m_activeSinks.push_back(sink);
    }
    if (m_activeSinks.empty()) {
        m_slotClocks.clear();
        prepareExpectedTarget(expected, panels, nowNs);
        return;
    }
    if (slot < 0)
        return;

    int left = 0;
    int top = 0;
    int boxWidth = 0;
    int boxHeight = 0;
    if (!panelBox(panels, &left, &top, &boxWidth, &boxHeight))
        return;

    // Sinks by size, in ascending size and, within a size, list order.
    std::stable_sort(m_activeSinks.begin(), m_activeSinks.end(), [](CompositeSink* a, CompositeSink* b) {
        return SizeKey {a->width(), a->height()} < SizeKey {b->width(), b->height()};
    });
    const auto wanted = [&](const SizeKey& size) {
        return std::any_of(m_activeSinks.begin(), m_activeSinks.end(), [&](CompositeSink* sink) {
            return SizeKey {sink->width(), sink->height()} == size;
        });
    };
    // The expected size stays ready for the next recording or share.
    for (auto it = m_targets.begin(); it != m_targets.end();) {
        if (!wanted(it->first) && it->first != expected) {
            deleteTarget(it->second);
            it = m_targets.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_slotClocks.begin(); it != m_slotClocks.end();)
        it = wanted(it->first) ? std::next(it) : m_slotClocks.erase(it);

    if (!ensureGl())
        return;
    if (!m_gl.hasCompositing()) {
        if (!m_compositeNoticePrinted)
            logPlain("RenderEngine: the OpenGL context lacks framebuffer objects or pixel-pack buffers; no "
                     "composite is made.");
        m_compositeNoticePrinted = true;
        return;
    }
    GLint maxTextureSize = 0;
    m_gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);

    const SavedCompositeState saved(m_gl);
    bool drewAny = false;
    for (size_t first = 0; first < m_activeSinks.size();) {
        const SizeKey size {m_activeSinks[first]->width(), m_activeSinks[first]->height()};
        size_t end = first + 1;
        while (end < m_activeSinks.size() &&
               SizeKey {m_activeSinks[end]->width(), m_activeSinks[end]->height()} == size)
            ++end;
        const size_t groupBegin = first;
        first = end;
        const auto [width, height] = size;
        // A size the context cannot hold as a texture gets nothing.
        if (width <= 0 || height <= 0 || width > maxTextureSize || height > maxTextureSize)
            continue;
        CompositeTarget& target = m_targets.try_emplace(size, m_gl).first->second;
        ensureCompositeTarget(target, width, height);

        // This size's pictures count the slots since its first one.
        const int64_t firstSlot = m_slotClocks.try_emplace(size, slot).first->second;

        drawCompositeFrame(target, panels, *overlay, left, top, boxWidth, boxHeight, nowNs);
        target.readback.enqueue(target.fbo, GlReadback::Tag {slot - firstSlot, m_pacer.slotNs(slot)});
        const uint8_t* data = nullptr;
        int stride = 0;
        GlReadback::Tag drawn {};
        if (target.readback.dequeue(&data, &stride, &drawn)) {
            // Two slots of read-back latency, as when composites are on time.
            const int64_t ptsUs = (drawn.slot + GlReadback::kRingSize - 1) * kPtsStepUs;
            for (size_t i = groupBegin; i < end; ++i)
                m_activeSinks[i]->submitRgba(data, stride, ptsUs, drawn.slotNs);
            target.readback.release();
        }
        ++target.frameCount;
        target.primed = true;
        drewAny = true;
    }
    if (drewAny)
        m_compositeMeter.count(nowNs / 1'000'000);
    saved.restore();
}

void RenderEngine::prepareExpectedTarget(const SizeKey& expected, const std::vector<PanelDraw>& panels,
                                         int64_t nowNs)
{
    // No target per step of a window being resized: the size must hold still first.
    if (expected != m_lastExpectedSize) {
        m_lastExpectedSize = expected;
        m_expectedSinceNs = nowNs;
    }
    for (auto it = m_targets.begin(); it != m_targets.end();) {
        if (it->first == expected) {
            // Pictures of a finished recording must not reach the next one.
            if (it->second.readback.queued() > 0)
                it->second.readback.restart();
            ++it;
        } else {
            deleteTarget(it->second);
            it = m_targets.erase(it);
        }
    }
    const auto [width, height] = expected;
    if (width <= 0 || height <= 0 || nowNs - m_expectedSinceNs < kExpectedSizeSettleNs)
        return;
    const auto found = m_targets.find(expected);
    if (found != m_targets.end() && found->second.primed)
        return;
    if (!ensureGl() || !m_gl.hasCompositing())
        return;
    GLint maxTextureSize = 0;
    m_gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    if (width > maxTextureSize || height > maxTextureSize)
        return;

    const SavedCompositeState saved(m_gl);
    CompositeTarget& target = m_targets.try_emplace(expected, m_gl).first->second;
    ensureCompositeTarget(target, width, height);
    // One composite without overlays, a shape and a text ready the driver's
    // programs for this target, and the read-back buffers get their memory.
    int left = 0;
    int top = 0;
    int boxWidth = 0;
    int boxHeight = 0;
    if (panelBox(panels, &left, &top, &boxWidth, &boxHeight))
        drawCompositeFrame(target, panels, OverlayState {}, left, top, boxWidth, boxHeight, nowNs);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    m_gl.glViewport(0, 0, width, height);
    m_overlayPainter.prepare(width, height);
    target.readback.prime(target.fbo);
    target.primed = true;
    saved.restore();
}

void RenderEngine::drawCompositeFrame(CompositeTarget& target, const std::vector<PanelDraw>& panels,
                                      const OverlayState& overlay, int left, int top, int boxWidth, int boxHeight,
                                      int64_t nowNs)
{
    const int width = target.width;
    const int height = target.height;
    const float sx = boxWidth > 0 ? static_cast<float>(width) / static_cast<float>(boxWidth) : 1.0f;
    const float sy = boxHeight > 0 ? static_cast<float>(height) / static_cast<float>(boxHeight) : 1.0f;
    std::vector<std::pair<int, PanelRect>>& placed = m_placedPanels;
    placed.clear();
    for (const PanelDraw& panel : panels) {
        const PanelRect& r = panel.rect;
        if (r.width <= 0 || r.height <= 0)
            continue;
        PanelRect box;
        box.x = static_cast<int32_t>(std::lroundf(static_cast<float>(r.x - left) * sx));
        box.y = static_cast<int32_t>(std::lroundf(static_cast<float>(r.y - top) * sy));
        box.width = std::max<int32_t>(1, static_cast<int32_t>(std::lroundf(static_cast<float>(r.width) * sx)));
        box.height = std::max<int32_t>(1, static_cast<int32_t>(std::lroundf(static_cast<float>(r.height) * sy)));
        placed.emplace_back(panel.panelId, box);
    }

    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    m_gl.glDisable(GL_SCISSOR_TEST);
    m_gl.glViewport(0, 0, width, height);
    // Black shows only between panels that leave gaps.
    if (!boxesTile(placed, width, height)) {
        m_gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        m_gl.glClear(GL_COLOR_BUFFER_BIT);
    }

    m_quads.ensureInit();
    size_t placedIndex = 0;
    for (const PanelDraw& panel : panels) {
        if (panel.rect.width <= 0 || panel.rect.height <= 0)
            continue;
        const PanelRect& box = placed[placedIndex++].second;
        const DecodedFrame* frame = panel.frame ? panel.frame : panel.picture.get();
        // Shares the panel's textures with on-screen drawing: a picture
        // already shown is not uploaded again.
        if (frame)
            m_quads.upload(panel.panelId, *frame);
        const bool drawsPicture = frame && m_quads.canDraw(panel.panelId);

        const GLint viewportY = height - box.y - box.height;
        m_gl.glViewport(box.x, viewportY, box.width, box.height);
        m_gl.glEnable(GL_SCISSOR_TEST);
        m_gl.glScissor(box.x, viewportY, box.width, box.height);
        // The empty colour shows only where the picture leaves the panel uncovered.
        if (!drawsPicture || !coversItsPanel(panel.params, frame->rotationDeg)) {
            m_gl.glClearColor(0.02f, 0.02f, 0.02f, 1.0f);
            m_gl.glClear(GL_COLOR_BUFFER_BIT);
        }
        if (drawsPicture) {
            float mvp[16];
            buildPanelMvp(mvp, box.width, box.height, frame->width, frame->height, panel.params, frame->rotationDeg,
                          sx);
            m_quads.drawPanel(panel.panelId, mvp);
        } else {
            m_quads.drawSolid(0.1f, 0.1f, 0.11f, 1.0f, kIdentity.data());
        }
        m_gl.glDisable(GL_SCISSOR_TEST);
    }

    m_gl.glViewport(0, 0, width, height);
    m_overlayPainter.draw(overlay, placed, width, height, nowNs / 1'000'000);
    m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderEngine::buildPanelMvp(float* out, int rectWidth, int rectHeight, int frameWidth, int frameHeight,
                                 const PanelParams& params, int frameRotation, float panScale)
{
    const float rw = static_cast<float>(rectWidth);
    const float rh = static_cast<float>(rectHeight);
    // Orthographic over the rectangle's pixels, origin at its centre, y down.
    Matrix matrix = kIdentity;
    if (rectWidth > 0 && rectHeight > 0) {
        matrix[0] = 2.0f / rw;
        matrix[5] = -2.0f / rh;
    }
    matrix[10] = -1.0f;

    if (rectWidth > 0 && rectHeight > 0 && frameWidth > 0 && frameHeight > 0) {
        const float fw = static_cast<float>(frameWidth);
        const float fh = static_cast<float>(frameHeight);
        const int angle = effectiveAngle(params.rotationDegrees, frameRotation);
        const float fit = angle % 180 == 0 ? std::max(rw / fw, rh / fh) : std::max(rw / fh, rh / fw);
        const float mirror = params.mirror ? -1.0f : 1.0f;
        matrix = multiply(matrix, translation(panScale * params.panX, panScale * params.panY));
        matrix = multiply(matrix, scale(params.zoom, params.zoom));
        matrix = multiply(matrix, rotation(angle));
        matrix = multiply(matrix, scale(mirror * fw * fit / 2.0f, fh * fit / 2.0f));
    }
    std::copy(matrix.begin(), matrix.end(), out);
}

}  // namespace lagwell
