#pragma once

#include "CHandles.h"
#include "EngineTypes.h"
#include "GlFunctions.h"
#include "OverlayState.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace lagwell {

// Burns the recording overlays into a composite picture: a delay badge in
// the corner of every panel, the title band during the first five seconds
// of a recording and the closing card while it stops. Text is rasterised
// with FreeType from DejaVu Sans into alpha textures and cached; shapes are
// rounded rectangles drawn by a signed-distance shader.
//
// Render thread only, context current. Fonts, programs and the quad are
// made by the first draw() (and the first after releaseGl()); GL objects go
// only through releaseGl(). The destructor closes the fonts and makes no GL
// call.
class OverlayPainter {
public:
    struct TextKey {
        std::string text;  // UTF-8
        int32_t pixelSize = 0;
        bool bold = false;
        int32_t maxWidthPx = 0;  // longer lines are cut and end in an ellipsis

        bool operator<(const TextKey& other) const
        {
            if (pixelSize != other.pixelSize)
                return pixelSize < other.pixelSize;
            if (bold != other.bold)
                return bold < other.bold;
            if (maxWidthPx != other.maxWidthPx)
                return maxWidthPx < other.maxWidthPx;
            return text < other.text;
        }
    };

    struct TextEntry {
        GLuint texture = 0;  // GL_ALPHA coverage
        int32_t width = 0;   // pixels
        int32_t height = 0;
        uint64_t lastUse = 0;  // draw tick of the last lookup, for eviction
    };

    struct Program {
        GLuint id = 0;  // 0 = failed to build; its shapes are skipped
        GLint aPosition = -1;
        GLint aTexCoord = -1;
        GLint uMvp = -1;
        GLint uColor = -1;
        GLint uTex = -1;
        GLint uSizePx = -1;
        GLint uRadiusPx = -1;
        GLint uPartPx = -1;
    };

    // The cache keeps at most this many texts and this many texels, the
    // least recently drawn going first, so a kiosk that records for weeks
    // holds no more than a few recordings' worth of text.
    static constexpr size_t kMaxCachedTexts = 64;
    static constexpr size_t kMaxCachedTexels = size_t {8} << 20;

    // gl must outlive the painter; it may be empty until the first draw.
    explicit OverlayPainter(const GlFunctions& gl);
    ~OverlayPainter();
    OverlayPainter(const OverlayPainter&) = delete;
    OverlayPainter& operator=(const OverlayPainter&) = delete;

    // Draws the overlays of state into the bound frameWidth x frameHeight
    // framebuffer. panels are panel ids with their rectangles in the
    // frame's pixels (top-left origin); nowMs is the steady clock.
    void draw(const OverlayState& state, const std::vector<std::pair<int, PanelRect>>& panels, int frameWidth,
              int frameHeight, int64_t nowMs);

    // Loads the fonts and builds the programs when not done yet, then draws
    // a shape and the brand line into the bound frameWidth x frameHeight
    // framebuffer, whose content the caller discards: the driver readies the
    // programs for that target before the first composite needs them.
    void prepare(int frameWidth, int frameHeight);

    // Deletes every GL object and empties the text cache; the fonts are
    // loaded again by the next draw.
    void releaseGl();

    // The width of text as it would be drawn at most maxWidthPx wide (0 when
    // nothing can be rasterised), and its height through heightPx.
    // Rasterises and caches it like a draw; render thread, context current.
    int measureText(const std::string& text, int pixelSize, bool bold, int maxWidthPx, int* heightPx = nullptr);
    // A filled circle of the given diameter, top-left at (x, y).
    void drawDot(float x, float y, float diameter, float r, float g, float b, float a, int frameWidth,
                 int frameHeight);

    bool fontsOk() const { return m_fontsOk; }
    size_t cachedTextCount() const { return m_textCache.size(); }
    // Largest texture side of the context, as queried at initialisation.
    int maxTextureSize() const { return m_maxTextureSize; }

private:
    struct Colour {
        float r, g, b;
    };

    void ensureInit();
    bool loadFonts();
    void buildPrograms();
    FT_Face face(bool bold) const;

    const TextEntry* getOrRasterise(const std::string& text, int pixelSize, bool bold, int maxWidthPx);
    void evictTextsBeyondBudget(const TextKey& keep);
    void deleteTextTexture(TextEntry& entry);

    void setShapeMatrix(const Program& program, float x, float y, float w, float h, int frameWidth,
                        int frameHeight) const;
    void drawRoundedRect(float x, float y, float w, float h, float radius, Colour colour, float alpha,
                         int frameWidth, int frameHeight);
    // The part (partX, partY, partW, partH) of the rounded rectangle (x, y, w, h).
    void drawRectPart(float x, float y, float w, float h, float radius, float partX, float partY, float partW,
                      float partH, Colour colour, float alpha, int frameWidth, int frameHeight);
    int drawText(const std::string& text, float x, float y, int pixelSize, bool bold, Colour colour, float alpha,
                 int frameWidth, int frameHeight);
    // Centred on cx; gives the line's width.
    int drawCentredText(const std::string& text, float cx, float y, int pixelSize, bool bold, Colour colour,
                        float alpha, int frameWidth, int frameHeight);
    void drawQuad(const Program& program);

    void drawBadge(int delayMs, const PanelRect& rect, const CardStrings& words, int frameWidth, int frameHeight);
    void drawTitleBand(const OverlayState& state, const CardStrings& words, int frameWidth, int frameHeight);
    void drawClosingCard(const OverlayState& state, const CardStrings& words, int frameWidth, int frameHeight,
                         int64_t nowMs);

    int textLimit(int frameWidth) const;

    const GlFunctions& m_gl;
    bool m_inited = false;
    bool m_fontsOk = false;
    bool m_noticePrinted = false;  // a font notice was printed; never cleared
    FtLibraryPtr m_library;  // declared before the faces: it must outlive them
    FtFacePtr m_regularFace;
    FtFacePtr m_boldFace;
    Program m_textProgram;
    Program m_rectProgram;
    Program m_fillProgram;
    GLuint m_quadBuffer = 0;
    int m_maxTextureSize = 0;
    std::map<TextKey, TextEntry> m_textCache;
    size_t m_cachedTexels = 0;
    uint64_t m_useTick = 0;
};

}  // namespace lagwell
