#include "GlFunctions.h"

#include <cstdio>
#include <cstring>

namespace lagwell {
namespace {

struct GlVersion {
    bool gles = false;
    int major = 0;
    int minor = 0;
};

GlVersion parseVersion(const char* text)
{
    GlVersion version;
    if (!text)
        return version;
    constexpr const char kEsPrefix[] = "OpenGL ES";
    if (std::strncmp(text, kEsPrefix, sizeof kEsPrefix - 1) == 0) {
        version.gles = true;
        text += sizeof kEsPrefix - 1;
        // "OpenGL ES 3.2 ...", "OpenGL ES-CM 1.1 ..."
        while (*text && (*text < '0' || *text > '9'))
            ++text;
    }
    if (std::sscanf(text, "%d.%d", &version.major, &version.minor) != 2)
        version.major = version.minor = 0;
    return version;
}

bool hasExtension(const char* extensions, const char* name)
{
    if (!extensions)
        return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at; at = std::strstr(at + 1, name)) {
        const bool startsWord = at == extensions || at[-1] == ' ';
        const bool endsWord = at[length] == '\0' || at[length] == ' ';
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

}  // namespace

bool GlFunctions::load(const GlResolver& resolver, std::string* error)
{
    clear();
    if (!resolver) {
        if (error)
            *error = "No OpenGL entry-point resolver was given.";
        return false;
    }

    std::string missing;
#define LAGWELL_GL_RESOLVE_CORE(name, type)                                                  \
    name = reinterpret_cast<type>(resolver(#name));                                          \
    if (!name)                                                                               \
        missing += missing.empty() ? #name : ", " #name;
    LAGWELL_GL_CORE_FUNCTIONS(LAGWELL_GL_RESOLVE_CORE)
#undef LAGWELL_GL_RESOLVE_CORE
    if (!missing.empty()) {
        clear();
        if (error)
            *error = "The OpenGL context lacks entry points needed to draw panels (" + missing + ").";
        return false;
    }

    const GlVersion version = parseVersion(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    m_gles = version.gles;
    const bool coreLevel = version.major >= 3;
    // Asked only below the 3.0 level: a core-profile context refuses the query.
    const char* extensions =
        coreLevel ? nullptr : reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    bool extensionLevel = false;
    if (!coreLevel) {
        if (m_gles) {
            extensionLevel = hasExtension(extensions, "GL_EXT_map_buffer_range") &&
                             hasExtension(extensions, "GL_NV_pixel_buffer_object");
        } else {
            extensionLevel = (hasExtension(extensions, "GL_ARB_framebuffer_object") ||
                              hasExtension(extensions, "GL_EXT_framebuffer_object")) &&
                             hasExtension(extensions, "GL_ARB_pixel_buffer_object") &&
                             hasExtension(extensions, "GL_ARB_map_buffer_range");
        }
    }

    // Below the 3.0 level the names depend on the extension that provides
    // them; guessing is unsafe because a dispatch stub may exist for any name.
    std::string framebufferSuffix;
    std::string mapRangeSuffix;
    std::string unmapSuffix;
    if (!coreLevel && m_gles) {
        mapRangeSuffix = "EXT";
        unmapSuffix = "OES";
    } else if (!coreLevel && !hasExtension(extensions, "GL_ARB_framebuffer_object")) {
        framebufferSuffix = "EXT";
    }
    const auto suffixFor = [&](const char* name) -> const std::string& {
        if (std::strcmp(name, "glMapBufferRange") == 0)
            return mapRangeSuffix;
        if (std::strcmp(name, "glUnmapBuffer") == 0)
            return unmapSuffix;
        return framebufferSuffix;
    };
    bool compositorComplete = true;
#define LAGWELL_GL_RESOLVE_COMPOSITOR(name, type)                                            \
    name = reinterpret_cast<type>(resolver((std::string(#name) + suffixFor(#name)).c_str())); \
    compositorComplete = compositorComplete && name;
    LAGWELL_GL_COMPOSITOR_FUNCTIONS(LAGWELL_GL_RESOLVE_COMPOSITOR)
#undef LAGWELL_GL_RESOLVE_COMPOSITOR
    m_compositing = compositorComplete && (coreLevel || extensionLevel);
    m_loaded = true;
    return true;
}

void GlFunctions::clear()
{
#define LAGWELL_GL_RESET(name, type) name = nullptr;
    LAGWELL_GL_CORE_FUNCTIONS(LAGWELL_GL_RESET)
    LAGWELL_GL_COMPOSITOR_FUNCTIONS(LAGWELL_GL_RESET)
#undef LAGWELL_GL_RESET
    m_loaded = false;
    m_gles = false;
    m_compositing = false;
}

}  // namespace lagwell
