#include "OverlayPainter.h"

#include "CardWords.h"
#include "Log.h"
#include "ShaderBuilder.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lagwell {
namespace {

constexpr const char* kRegularCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
};
constexpr const char* kBoldCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/TTF/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans-Bold.ttf",
};

constexpr const char kTextFragment[] =
    "uniform sampler2D uTex;\n"
    "uniform vec4 uColor;\n"
    "varying vec2 vTexCoord;\n"
    "void main() {\n"
    "    gl_FragColor = vec4(uColor.rgb, uColor.a * texture2D(uTex, vTexCoord).a);\n"
    "}\n";

// Signed distance to a rounded rectangle, in pixels, with a soft edge one
// pixel either side of the outline. The quad may cover only part of the
// rectangle: uPartPx is that part's centre, relative to the rectangle's,
// and its size.
constexpr const char kRectFragment[] =
    "uniform vec2 uSizePx;\n"
    "uniform float uRadiusPx;\n"
    "uniform vec4 uColor;\n"
    "uniform vec4 uPartPx;\n"
    "varying vec2 vTexCoord;\n"
    "void main() {\n"
    "    vec2 p = uPartPx.xy + (vTexCoord - 0.5) * uPartPx.zw;\n"
    "    vec2 d = abs(p) - uSizePx * 0.5 + uRadiusPx;\n"
    "    float dist = length(max(d, 0.0)) + min(max(d.x, d.y), 0.0) - uRadiusPx;\n"
    "    float coverage = 1.0 - smoothstep(-1.0, 1.0, dist);\n"
    "    gl_FragColor = vec4(uColor.rgb, uColor.a * coverage);\n"
    "}\n";

// One flat colour: the inside of a large plain rectangle.
constexpr const char kFillFragment[] =
    "uniform vec4 uColor;\n"
    "void main() {\n"
    "    gl_FragColor = uColor;\n"
    "}\n";

// (x, y, u, v): a unit quad about the origin, texture row 0 at the top.
constexpr std::array<float, 16> kUnitQuad {
    -0.5f, -0.5f, 0.0f, 0.0f,
    0.5f, -0.5f, 1.0f, 0.0f,
    -0.5f, 0.5f, 0.0f, 1.0f,
    0.5f, 0.5f, 1.0f, 1.0f,
};

constexpr uint32_t kEllipsis = 0x2026;

// The title band's first line; not translated.
constexpr const char kBrandLine[] = "TAVRIX";

// Colours, RGB in 0..1.
constexpr float kAccent[3] = {0.961f, 0.651f, 0.137f};
constexpr float kBand[3] = {0.039f, 0.039f, 0.047f};
constexpr float kClosingBackground[3] = {0.031f, 0.031f, 0.039f};
constexpr float kBadge[3] = {0.067f, 0.067f, 0.067f};
constexpr float kPeopleLine[3] = {0.812f, 0.812f, 0.831f};
constexpr float kDotLive[3] = {0.298f, 0.686f, 0.314f};
constexpr float kDotDelayed[3] = {1.0f, 0.42f, 0.208f};
constexpr float kWhite[3] = {1.0f, 1.0f, 1.0f};

// Code points of UTF-8 text; a byte that does not start a well-formed
// sequence stands for itself (0xFF becomes U+00FF).
std::vector<uint32_t> decodeUtf8(const std::string& text)
{
    std::vector<uint32_t> out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        size_t length = 0;
        uint32_t codePoint = 0;
        if (lead < 0x80) {
            length = 1;
            codePoint = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07u;
        }
        bool wellFormed = length > 0 && i + length <= size;
        for (size_t k = 1; wellFormed && k < length; ++k) {
            if ((bytes[i + k] & 0xC0u) != 0x80u)
                wellFormed = false;
            else
                codePoint = (codePoint << 6) | (bytes[i + k] & 0x3Fu);
        }
        if (!wellFormed) {
            out.push_back(lead);
            ++i;
            continue;
        }
        out.push_back(codePoint);
        i += length;
    }
    return out;
}

// The people line of the cards: "Player: Ann       Coach: Bob".
std::string peopleLine(const TitleCardLabels& labels, const CardStrings& words)
{
    std::string text;
    if (!labels.player.empty() && !labels.title.empty())
        text = words.playerPrefix + labels.player;
    if (!labels.coach.empty()) {
        if (!text.empty())
            text += "       ";
        text += words.coachPrefix + labels.coach;
    }
    return text;
}

std::string titleLine(const TitleCardLabels& labels, const CardStrings& words)
{
    if (!labels.title.empty())
        return labels.title;
    if (!labels.player.empty())
        return labels.player;
    return words.trainingSession;
}

int scaledSize(float factor, float unit)
{
    return std::max(1, static_cast<int>(factor * unit));
}

struct GlyphMetrics {
    uint32_t codePoint = 0;
    int advance = 0;
    int top = 0;
    int bottom = 0;
};

}  // namespace

OverlayPainter::OverlayPainter(const GlFunctions& gl) : m_gl(gl) {}

OverlayPainter::~OverlayPainter()
{
    // Faces before the library that made them; the cache's textures died
    // with the context or went through releaseGl().
    m_regularFace.reset();
    m_boldFace.reset();
    m_library.reset();
}

void OverlayPainter::ensureInit()
{
    if (m_inited || !m_gl.isLoaded())
        return;
    m_fontsOk = loadFonts();
    buildPrograms();
    m_gl.glGenBuffers(1, &m_quadBuffer);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, m_quadBuffer);
    m_gl.glBufferData(GL_ARRAY_BUFFER, sizeof kUnitQuad, kUnitQuad.data(), GL_STATIC_DRAW);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLint maxTextureSize = 0;
    m_gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    // Every OpenGL 2.1 / ES 2.0 context offers at least 64.
    m_maxTextureSize = std::max<GLint>(64, maxTextureSize);
    m_inited = true;
}

bool OverlayPainter::loadFonts()
{
    m_regularFace.reset();
    m_boldFace.reset();
    m_library.reset();
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        if (!m_noticePrinted)
            logPlain("OverlayPainter: FreeType init failed; overlays will draw without text.");
        m_noticePrinted = true;
        return false;
    }
    m_library.reset(library);
    const auto openFirst = [&](const char* const* paths, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            FT_Face face = nullptr;
            if (FT_New_Face(m_library.get(), paths[i], 0, &face) == 0)
                return FtFacePtr(face);
        }
        return FtFacePtr();
    };
    m_boldFace = openFirst(kBoldCandidates, std::size(kBoldCandidates));
    m_regularFace = openFirst(kRegularCandidates, std::size(kRegularCandidates));
    if (!m_boldFace && !m_regularFace) {
        if (!m_noticePrinted)
            logPlain("OverlayPainter: no DejaVu Sans font found in the usual system paths; overlays will draw "
                     "without text.");
        m_noticePrinted = true;
        return false;
    }
    return true;
}

FT_Face OverlayPainter::face(bool bold) const
{
    // With only one face installed it serves both weights.
    FT_Face preferred = bold ? m_boldFace.get() : m_regularFace.get();
    return preferred ? preferred : (bold ? m_regularFace.get() : m_boldFace.get());
}

void OverlayPainter::buildPrograms()
{
    const ShaderBuilder builder(m_gl, "OverlayPainter");
    const auto build = [&](Program& program, const char* fragment) {
        program = Program {};
        program.id = builder.build(ShaderBuilder::kQuadVertexShader, fragment);
        if (!program.id)
            return;
        program.aPosition = m_gl.glGetAttribLocation(program.id, "aPosition");
        program.aTexCoord = m_gl.glGetAttribLocation(program.id, "aTexCoord");
        program.uMvp = m_gl.glGetUniformLocation(program.id, "uMvp");
        program.uColor = m_gl.glGetUniformLocation(program.id, "uColor");
        program.uTex = m_gl.glGetUniformLocation(program.id, "uTex");
        program.uSizePx = m_gl.glGetUniformLocation(program.id, "uSizePx");
        program.uRadiusPx = m_gl.glGetUniformLocation(program.id, "uRadiusPx");
        program.uPartPx = m_gl.glGetUniformLocation(program.id, "uPartPx");
    };
    build(m_textProgram, kTextFragment);
    build(m_rectProgram, kRectFragment);
    build(m_fillProgram, kFillFragment);
}

void OverlayPainter::releaseGl()
{
    const bool canDelete = m_gl.isLoaded();
    for (auto& [key, entry] : m_textCache) {
        if (canDelete)
            deleteTextTexture(entry);
    }
    m_textCache.clear();
    m_cachedTexels = 0;
    if (canDelete) {
        if (m_quadBuffer)
            m_gl.glDeleteBuffers(1, &m_quadBuffer);
        if (m_textProgram.id)
            m_gl.glDeleteProgram(m_textProgram.id);
        if (m_rectProgram.id)
            m_gl.glDeleteProgram(m_rectProgram.id);
        if (m_fillProgram.id)
            m_gl.glDeleteProgram(m_fillProgram.id);
    }
    m_quadBuffer = 0;
    m_textProgram = Program {};
    m_rectProgram = Program {};
    m_fillProgram = Program {};
    m_inited = false;
}

void OverlayPainter::deleteTextTexture(TextEntry& entry)
{
    if (entry.texture)
        m_gl.glDeleteTextures(1, &entry.texture);
    entry.texture = 0;
}

int OverlayPainter::textLimit(int frameWidth) const
{
    return std::max(1, std::min(frameWidth, m_maxTextureSize));
}

const OverlayPainter::TextEntry* OverlayPainter::getOrRasterise(const std::string& text, int pixelSize, bool bold,
                                                                int maxWidthPx)
{
    if (!m_fontsOk || pixelSize < 1 || text.empty() || maxWidthPx < 1)
        return nullptr;
    // No texture may be wider or taller than the context allows.
    maxWidthPx = std::min(maxWidthPx, m_maxTextureSize);
    TextKey key {text, pixelSize, bold, maxWidthPx};
    const auto cached = m_textCache.find(key);
    if (cached != m_textCache.end()) {
        cached->second.lastUse = ++m_useTick;
        return &cached->second;
    }

    FT_Face ftFace = face(bold);
    if (!ftFace || FT_Set_Pixel_Sizes(ftFace, 0, static_cast<FT_UInt>(pixelSize)) != 0)
        return nullptr;

    const auto measure = [&](uint32_t codePoint, GlyphMetrics* out) {
        if (FT_Load_Char(ftFace, codePoint, FT_LOAD_DEFAULT) != 0)
            return false;
        const FT_Glyph_Metrics& metrics = ftFace->glyph->metrics;
        out->codePoint = codePoint;
        out->advance = static_cast<int>(ftFace->glyph->advance.x / 64);
        out->top = static_cast<int>(metrics.horiBearingY / 64);
        out->bottom = out->top - static_cast<int>(metrics.height / 64);
        return true;
    };

    // Measure until the line is known to fit, or known not to: a title of a
    // million characters costs no more than one that is a frame wide.
    std::vector<GlyphMetrics> glyphs;
    int64_t total = 0;
    bool tooWide = false;
    for (uint32_t codePoint : decodeUtf8(text)) {
        GlyphMetrics metrics;
        if (!measure(codePoint, &metrics))
            continue;
        glyphs.push_back(metrics);
        total += metrics.advance;
        if (total > maxWidthPx) {
            tooWide = true;
            break;
        }
    }
    if (tooWide) {
        // Cut the line and end it in an ellipsis ("..." when the font has
        // none); when not even that fits, the cut line alone.
        std::vector<GlyphMetrics> tail;
        GlyphMetrics ellipsis;
        if (measure(kEllipsis, &ellipsis)) {
            tail.push_back(ellipsis);
        } else {
            GlyphMetrics dot;
            if (measure('.', &dot))
                tail.assign(3, dot);
        }
        int tailWidth = 0;
        for (const GlyphMetrics& g : tail)
            tailWidth += g.advance;
        if (tailWidth > maxWidthPx) {
            tail.clear();
            tailWidth = 0;
        }
        int64_t width = 0;
        size_t kept = 0;
        while (kept < glyphs.size() && width + glyphs[kept].advance + tailWidth <= maxWidthPx)
            width += glyphs[kept++].advance;
        glyphs.resize(kept);
        glyphs.insert(glyphs.end(), tail.begin(), tail.end());
    }

    int width = 0;
    int highestTop = 0;
    int lowestBottom = 0;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        width += glyphs[i].advance;
        highestTop = i == 0 ? glyphs[i].top : std::max(highestTop, glyphs[i].top);
        lowestBottom = i == 0 ? glyphs[i].bottom : std::min(lowestBottom, glyphs[i].bottom);
    }
    if (glyphs.empty() || width <= 0)
        return nullptr;
    width = std::min(width, maxWidthPx);
    const int height = std::max(1, highestTop - lowestBottom);
    if (height > m_maxTextureSize)
        return nullptr;

    std::vector<uint8_t> coverage(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    int pen = 0;
    for (const GlyphMetrics& glyph : glyphs) {
        if (FT_Load_Char(ftFace, glyph.codePoint, FT_LOAD_RENDER) != 0)
            continue;
        const FT_GlyphSlot slot = ftFace->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer) {
            const int rows = static_cast<int>(bitmap.rows);
            const int columns = static_cast<int>(bitmap.width);
            const int pitch = bitmap.pitch;
            for (int r = 0; r < rows; ++r) {
                const int y = highestTop - slot->bitmap_top + r;
                if (y < 0 || y >= height)
                    continue;
                const unsigned char* source =
                    pitch >= 0 ? bitmap.buffer + static_cast<ptrdiff_t>(r) * pitch
                               : bitmap.buffer + static_cast<ptrdiff_t>(rows - 1 - r) * -pitch;
                for (int c = 0; c < columns; ++c) {
                    const int x = pen + slot->bitmap_left + c;
                    if (x < 0 || x >= width)
                        continue;
                    coverage[static_cast<size_t>(y) * width + x] = source[c];
                }
            }
        }
        pen += static_cast<int>(slot->advance.x / 64);
    }

    TextEntry entry;
    entry.width = width;
    entry.height = height;
    entry.lastUse = ++m_useTick;
    GLint savedAlignment = 4;
    m_gl.glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
    m_gl.glGenTextures(1, &entry.texture);
    m_gl.glBindTexture(GL_TEXTURE_2D, entry.texture);
    m_gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    m_gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    m_gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, width, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE, coverage.data());
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    m_gl.glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);

    m_cachedTexels += coverage.size();
    const auto inserted = m_textCache.emplace(key, entry).first;
    evictTextsBeyondBudget(key);
    return &inserted->second;
}

void OverlayPainter::evictTextsBeyondBudget(const TextKey& keep)
{
    while (m_textCache.size() > 1 &&
           (m_textCache.size() > kMaxCachedTexts || m_cachedTexels > kMaxCachedTexels)) {
        auto oldest = m_textCache.end();
        for (auto it = m_textCache.begin(); it != m_textCache.end(); ++it) {
            if (it->first.pixelSize == keep.pixelSize && it->first.bold == keep.bold &&
                it->first.maxWidthPx == keep.maxWidthPx && it->first.text == keep.text)
                continue;
            if (oldest == m_textCache.end() || it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        }
        if (oldest == m_textCache.end())
            return;
        m_cachedTexels -= static_cast<size_t>(oldest->second.width) * static_cast<size_t>(oldest->second.height);
        deleteTextTexture(oldest->second);
        m_textCache.erase(oldest);
    }
}

int OverlayPainter::measureText(const std::string& text, int pixelSize, bool bold, int maxWidthPx, int* heightPx)
{
    ensureInit();
    const TextEntry* entry = m_inited ? getOrRasterise(text, pixelSize, bold, maxWidthPx) : nullptr;
    if (heightPx)
        *heightPx = entry ? entry->height : 0;
    return entry ? entry->width : 0;
}

void OverlayPainter::setShapeMatrix(const Program& program, float x, float y, float w, float h, int frameWidth,
                                    int frameHeight) const
{
    // P x T(x + w/2 - W/2, y + h/2 - H/2) x S(w, h): the unit quad onto the
    // pixel rectangle, top-left origin, y downward.
    const float fw = static_cast<float>(frameWidth);
    const float fh = static_cast<float>(frameHeight);
    const float tx = x + w / 2.0f - fw / 2.0f;
    const float ty = y + h / 2.0f - fh / 2.0f;
    float mvp[16] = {};
    mvp[0] = 2.0f * w / fw;
    mvp[5] = -2.0f * h / fh;
    mvp[10] = -1.0f;
    mvp[12] = 2.0f * tx / fw;
    mvp[13] = -2.0f * ty / fh;
    mvp[15] = 1.0f;
    m_gl.glUniformMatrix4fv(program.uMvp, 1, GL_FALSE, mvp);
}

void OverlayPainter::drawQuad(const Program& program)
{
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, m_quadBuffer);
    ShaderBuilder::enableQuadAttributes(m_gl, program.aPosition, program.aTexCoord);
    m_gl.glEnable(GL_BLEND);
    m_gl.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    m_gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_gl.glDisable(GL_BLEND);
    ShaderBuilder::disableQuadAttributes(m_gl, program.aPosition, program.aTexCoord);
    m_gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void OverlayPainter::drawRoundedRect(float x, float y, float w, float h, float radius, Colour colour, float alpha,
                                     int frameWidth, int frameHeight)
{
    if (m_rectProgram.id == 0 || w <= 0.0f || h <= 0.0f || alpha <= 0.0f)
        return;
    // A large plain rectangle: only a rim along the outline needs the
    // distance function, its inside (coverage 1) is one flat colour. The
    // rim's inner lines sit on whole pixels, at least a pixel from the
    // outline, so that every pixel is drawn exactly once.
    const float innerLeft = std::floor(x) + 2.0f;
    const float innerTop = std::floor(y) + 2.0f;
    const float innerRight = std::ceil(x + w) - 2.0f;
    const float innerBottom = std::ceil(y + h) - 2.0f;
    if (radius > 0.0f || m_fillProgram.id == 0 || innerRight - innerLeft < 8.0f || innerBottom - innerTop < 8.0f) {
        drawRectPart(x, y, w, h, radius, x, y, w, h, colour, alpha, frameWidth, frameHeight);
        return;
    }
    m_gl.glUseProgram(m_fillProgram.id);
    setShapeMatrix(m_fillProgram, innerLeft, innerTop, innerRight - innerLeft, innerBottom - innerTop, frameWidth,
                   frameHeight);
    m_gl.glUniform4f(m_fillProgram.uColor, colour.r, colour.g, colour.b, alpha);
    drawQuad(m_fillProgram);
    drawRectPart(x, y, w, h, 0.0f, x, y, w, innerTop - y, colour, alpha, frameWidth, frameHeight);
    drawRectPart(x, y, w, h, 0.0f, x, innerBottom, w, y + h - innerBottom, colour, alpha, frameWidth, frameHeight);
    drawRectPart(x, y, w, h, 0.0f, x, innerTop, innerLeft - x, innerBottom - innerTop, colour, alpha, frameWidth,
                 frameHeight);
    drawRectPart(x, y, w, h, 0.0f, innerRight, innerTop, x + w - innerRight, innerBottom - innerTop, colour, alpha,
                 frameWidth, frameHeight);
}

void OverlayPainter::drawRectPart(float x, float y, float w, float h, float radius, float partX, float partY,
                                  float partW, float partH, Colour colour, float alpha, int frameWidth,
                                  int frameHeight)
{
    m_gl.glUseProgram(m_rectProgram.id);
    setShapeMatrix(m_rectProgram, partX, partY, partW, partH, frameWidth, frameHeight);
    m_gl.glUniform2f(m_rectProgram.uSizePx, w, h);
    m_gl.glUniform1f(m_rectProgram.uRadiusPx, radius);
    m_gl.glUniform4f(m_rectProgram.uColor, colour.r, colour.g, colour.b, alpha);
    m_gl.glUniform4f(m_rectProgram.uPartPx, partX + partW / 2.0f - (x + w / 2.0f), partY + partH / 2.0f - (y + h / 2.0f),
                     partW, partH);
    drawQuad(m_rectProgram);
}

void OverlayPainter::drawDot(float x, float y, float diameter, float r, float g, float b, float a, int frameWidth,
                             int frameHeight)
{
    drawRoundedRect(x, y, diameter, diameter, diameter / 2.0f, Colour {r, g, b}, a, frameWidth, frameHeight);
}

int OverlayPainter::drawText(const std::string& text, float x, float y, int pixelSize, bool bold, Colour colour,
                             float alpha, int frameWidth, int frameHeight)
{
    const TextEntry* entry = getOrRasterise(text, pixelSize, bold, textLimit(frameWidth));
    if (!entry)
        return 0;
    if (m_textProgram.id == 0 || alpha <= 0.0f)
        return entry->width;
    // Whole pixels keep the glyphs as sharp as they were rasterised.
    const float left = std::floor(x + 0.5f);
    const float top = std::floor(y + 0.5f);
    m_gl.glUseProgram(m_textProgram.id);
    setShapeMatrix(m_textProgram, left, top, static_cast<float>(entry->width), static_cast<float>(entry->height),
                   frameWidth, frameHeight);
    m_gl.glUniform4f(m_textProgram.uColor, colour.r, colour.g, colour.b, alpha);
    m_gl.glActiveTexture(GL_TEXTURE0);
    m_gl.glBindTexture(GL_TEXTURE_2D, entry->texture);
    m_gl.glUniform1i(m_textProgram.uTex, 0);
    drawQuad(m_textProgram);
    m_gl.glBindTexture(GL_TEXTURE_2D, 0);
    return entry->width;
}

int OverlayPainter::drawCentredText(const std::string& text, float cx, float y, int pixelSize, bool bold,
                                    Colour colour, float alpha, int frameWidth, int frameHeight)
{
    const TextEntry* entry = getOrRasterise(text, pixelSize, bold, textLimit(frameWidth));
    const float x = entry ? cx - static_cast<float>(entry->width) / 2.0f : cx;
    return drawText(text, x, y, pixelSize, bold, colour, alpha, frameWidth, frameHeight);
}

void OverlayPainter::draw(const OverlayState& state, const std::vector<std::pair<int, PanelRect>>& panels,
                          int frameWidth, int frameHeight, int64_t nowMs)
{
    if (frameWidth <= 0 || frameHeight <= 0)
        return;
    ensureInit();
    if (!m_inited)
        return;
    // One copy of the words for the whole overlay: never two languages.
    const CardStrings words = currentCardStrings();
    for (const auto& [panelId, rect] : panels) {
        const auto delay = state.panelDelayMs.find(panelId);
        if (delay != state.panelDelayMs.end())
            drawBadge(delay->second, rect, words, frameWidth, frameHeight);
    }
    drawTitleBand(state, words, frameWidth, frameHeight);
    drawClosingCard(state, words, frameWidth, frameHeight, nowMs);
    m_gl.glUseProgram(0);
}

void OverlayPainter::prepare(int frameWidth, int frameHeight)
{
    if (frameWidth <= 0 || frameHeight <= 0)
        return;
    ensureInit();
    if (!m_inited)
        return;
    const Colour white {kWhite[0], kWhite[1], kWhite[2]};
    drawRoundedRect(0, 0, 4, 4, 1, white, 1.0f, frameWidth, frameHeight);
    drawRoundedRect(0, 0, 16, 16, 0, white, 1.0f, frameWidth, frameHeight);
    // The title band's first line, at its size for this frame.
    drawText(kBrandLine, 0, 0, scaledSize(2.6f, static_cast<float>(frameWidth) / 100.0f), true, white, 1.0f,
             frameWidth, frameHeight);
    m_gl.glUseProgram(0);
}

void OverlayPainter::drawBadge(int delayMs, const PanelRect& rect, const CardStrings& words, int frameWidth,
                               int frameHeight)
{
    const std::string text = delayMs <= 0 ? words.live : formatDelay(delayMs);
    const int h = std::max(18, static_cast<int>(std::lround(frameHeight * 0.042)));
    const int textSize = std::max(1, static_cast<int>(0.52 * h));
    const TextEntry* entry = getOrRasterise(text, textSize, true, textLimit(frameWidth));
    const float textWidth = entry ? static_cast<float>(entry->width) : 0.0f;

    const float hf = static_cast<float>(h);
    const float margin = 0.012f * static_cast<float>(frameHeight);
    const float padding = 0.32f * hf;
    const float dot = 0.3f * hf;
    const float gap = 0.22f * hf;
    const float left = static_cast<float>(rect.x) + margin;
    const float top = static_cast<float>(rect.y) + margin;

    drawRoundedRect(left, top, padding + dot + gap + textWidth + padding, hf, 0.28f * hf,
                    Colour {kBadge[0], kBadge[1], kBadge[2]}, 0.75f, frameWidth, frameHeight);
    const float* dotColour = delayMs <= 0 ? kDotLive : kDotDelayed;
    drawRoundedRect(left + padding, top + 0.5f * hf - 0.15f * hf, dot, dot, 0.15f * hf,
                    Colour {dotColour[0], dotColour[1], dotColour[2]}, 1.0f, frameWidth, frameHeight);
    drawText(text, left + padding + dot + gap, top + static_cast<float>((h - textSize) / 2), textSize, true,
             Colour {kWhite[0], kWhite[1], kWhite[2]}, 1.0f, frameWidth, frameHeight);
}

void OverlayPainter::drawTitleBand(const OverlayState& state, const CardStrings& words, int frameWidth,
                                   int frameHeight)
{
    if (!state.labels || state.elapsedMs < 0 || state.elapsedMs > 4999)
        return;
    const TitleCardLabels& labels = *state.labels;
    const float alpha =
        state.elapsedMs <= 4500 ? 1.0f : 1.0f - static_cast<float>(state.elapsedMs - 4500) / 500.0f;
    const float W = static_cast<float>(frameWidth);
    const float H = static_cast<float>(frameHeight);
    const float u = W / 100.0f;
    const float band = std::min(0.34f * H, H);
    const float accentThickness = 0.35f * u > 2.0f ? 0.35f * u : 2.0f;
    const float cx = 0.5f * W;
    const Colour accent {kAccent[0], kAccent[1], kAccent[2]};
    const Colour white {kWhite[0], kWhite[1], kWhite[2]};

    drawRoundedRect(0, 0, W, band, 0, Colour {kBand[0], kBand[1], kBand[2]}, 0.76f * alpha, frameWidth,
                    frameHeight);
    drawRoundedRect(0, 0, W, accentThickness, 0, accent, alpha, frameWidth, frameHeight);
    drawRoundedRect(0, band - accentThickness, W, accentThickness, 0, accent, alpha, frameWidth, frameHeight);

    float y = accentThickness + 2.2f * u;
    const int brandSize = scaledSize(2.6f, u);
    drawCentredText(kBrandLine, cx, y, brandSize, true, accent, alpha, frameWidth, frameHeight);
    y += 1.5f * static_cast<float>(brandSize);

    const int titleSize = scaledSize(3.0f, u);
    drawCentredText(titleLine(labels, words), cx, y, titleSize, true, white, alpha, frameWidth, frameHeight);
    y += 1.5f * static_cast<float>(titleSize);

    std::string session;
    if (!labels.sessionType.empty() && !labels.date.empty())
        session = labels.sessionType + "   \u00b7   " + labels.date;
    else
        session = labels.sessionType.empty() ? labels.date : labels.sessionType;
    if (!session.empty() && band > y) {
        const int sessionSize = scaledSize(2.0f, u);
        drawCentredText(session, cx, y, sessionSize, true, accent, alpha, frameWidth, frameHeight);
        y += 1.5f * static_cast<float>(sessionSize);
    }

    const std::string people = peopleLine(labels, words);
    if (!people.empty() && band > y)
        drawCentredText(people, cx, y, scaledSize(1.9f, u), false,
                        Colour {kPeopleLine[0], kPeopleLine[1], kPeopleLine[2]}, alpha, frameWidth, frameHeight);
}

void OverlayPainter::drawClosingCard(const OverlayState& state, const CardStrings& words, int frameWidth,
                                     int frameHeight, int64_t nowMs)
{
    if (!state.closing)
        return;
    const float progress = static_cast<float>(nowMs - state.closingStartMs) / 600.0f;
    if (progress <= 0.0f)
        return;
    const float alpha = std::min(progress, 1.0f);
    const float W = static_cast<float>(frameWidth);
    const float H = static_cast<float>(frameHeight);
    drawRoundedRect(0, 0, W, H, 0, Colour {kClosingBackground[0], kClosingBackground[1], kClosingBackground[2]},
                    0.99f * alpha, frameWidth, frameHeight);

    const float u = W / 100.0f;
    const int captionSize = scaledSize(1.9f, u);
    const int durationSize = scaledSize(12.0f, u);
    const int titleSize = scaledSize(3.2f, u);
    const int peopleSize = scaledSize(2.4f, u);
    const auto lineHeight = [](int size) { return 1.3f * static_cast<float>(size); };
    const std::string people = state.labels ? peopleLine(*state.labels, words) : std::string();
    float block = lineHeight(captionSize) + lineHeight(durationSize) + lineHeight(titleSize);
    if (!people.empty())
        block += lineHeight(peopleSize);
    const float cx = 0.5f * W;
    const Colour accent {kAccent[0], kAccent[1], kAccent[2]};

    float y = (H - block) / 2.0f;
    drawCentredText(words.sessionDuration, cx, y, captionSize, true, accent, alpha, frameWidth, frameHeight);
    y += lineHeight(captionSize);
    drawCentredText(formatDuration(state.finalDurationMs), cx, y, durationSize, true,
                    Colour {kWhite[0], kWhite[1], kWhite[2]}, alpha, frameWidth, frameHeight);
    y += lineHeight(durationSize);
    const std::string title = state.labels ? titleLine(*state.labels, words) : words.trainingSession;
    drawCentredText(title, cx, y, titleSize, true, accent, alpha, frameWidth, frameHeight);
    if (!people.empty())
        drawCentredText(people, cx, y + lineHeight(titleSize), peopleSize, false,
                        Colour {kPeopleLine[0], kPeopleLine[1], kPeopleLine[2]}, alpha, frameWidth, frameHeight);
}

}  // namespace lagwell
