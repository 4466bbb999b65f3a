#pragma once

#include "DecodedFrame.h"
#include "GlFunctions.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace lagwell {

// Draws textured quads: decoded pictures (I420 or NV12, converted to RGB in
// the fragment shader), RGBA textures and solid colours. Owns the programs,
// the one quad vertex buffer and every panel's plane textures.
//
// Render thread only, with the context current; holds no lock. GL objects
// are created lazily by ensureInit()/upload() and deleted only by forget()
// and releaseGl(): the destructor frees memory and makes no GL call.
class QuadRenderer {
public:
    // One linked program and where its inputs are; -1 = absent or not looked up.
    struct Program {
        GLuint id = 0;  // 0 = failed to build; draws needing it are skipped
        GLint aPosition = -1;
        GLint aTexCoord = -1;
        GLint uMvp = -1;
        GLint uAlpha = -1;
        GLint uPlane0 = -1;
        GLint uPlane1 = -1;
        GLint uPlane2 = -1;
        GLint uColor = -1;
    };

    // The plane textures of one panel.
    struct PanelTextures {
        DecodedFrame::Layout layout = DecodedFrame::Layout::I420;
        int32_t width = 0;   // luma size the textures were allocated for
        int32_t height = 0;
        std::array<GLuint, 3> textures {0, 0, 0};  // I420: Y, U, V; NV12: Y, UV, 0
        uint64_t lastSeq = 0;   // seq of the last uploaded frame
        bool seqValid = false;  // lastSeq describes the current content
        bool ready = false;     // received at least one upload; never cleared
    };

    // (x, y, u, v) per vertex, a triangle strip. Texture row 0 (the top of a
    // picture) sits at y = -1, which the panel matrix puts at the top.
    static constexpr std::array<float, 16> kQuadVertices {
        -1.0f, -1.0f, 0.0f, 0.0f,
        1.0f, -1.0f, 1.0f, 0.0f,
        -1.0f, 1.0f, 0.0f, 1.0f,
        1.0f, 1.0f, 1.0f, 1.0f,
    };

    // gl must outlive the renderer; it may be empty until the first call.
    explicit QuadRenderer(const GlFunctions& gl);
    QuadRenderer(const QuadRenderer&) = delete;
    QuadRenderer& operator=(const QuadRenderer&) = delete;

    // Builds the four programs and the quad buffer once.
    void ensureInit();
    // Brings the panel's textures up to date with frame; a frame whose seq
    // was uploaded last is not uploaded again. Planes that are missing or too
    // short for the frame's size are skipped; a plane whose stride is shorter
    // than a texture row is padded, never read beyond.
    void upload(int panelId, const DecodedFrame& frame);
    bool hasTexture(int panelId) const;
    // drawPanel() would draw the panel's picture: it has one and its program built.
    bool canDraw(int panelId) const;
    // Draws the panel's picture opaque over the quad placed by mvp
    // (column-major 4 x 4). Nothing when the panel has no picture yet.
    void drawPanel(int panelId, const float* mvp);
    // Fills the quad with one colour, blended when a < 1.
    void drawSolid(float r, float g, float b, float a, const float* mvp);
    // Draws an RGBA texture with premultiplied blending, scaled by alpha.
    void drawRgba(GLuint texture, const float* mvp, float alpha);
    // Deletes the panel's textures (nothing for an unknown id).
    void forget(int panelId);
    // Deletes every GL object; the renderer is then as freshly constructed.
    void releaseGl();

    bool isInited() const { return m_inited; }
    // The panel's texture entry, null when it has none.
    const PanelTextures* panelTextures(int panelId) const;

private:
    void buildPrograms();
    void reallocate(PanelTextures& panel, const DecodedFrame& frame);
    void uploadPlane(GLuint texture, GLenum format, int width, int height, const std::vector<uint8_t>& plane,
                     int32_t strideBytes);
    void drawQuad(const Program& program);
    void deleteTextures(PanelTextures& panel);
    void deleteProgram(Program& program);

    const GlFunctions& m_gl;
    bool m_inited = false;
    GLuint m_quadBuffer = 0;
    Program m_i420;
    Program m_nv12;
    Program m_rgba;
    Program m_solid;
    std::unordered_map<int32_t, PanelTextures> m_panels;
    std::vector<uint8_t> m_repack;  // padded copy of a plane with short rows, reused
};

}  // namespace lagwell
