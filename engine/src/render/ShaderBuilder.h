#pragma once

#include "GlFunctions.h"

#include <string>

namespace lagwell {

// Builds GL programs from source text for whatever context is current:
// desktop OpenGL gets GLSL 1.20 with the precision words defined away, OpenGL
// ES gets a default float precision in fragment shaders. Failures are printed
// as plain lines starting with the owner's class name. Render thread only.
class ShaderBuilder {
public:
    // The vertex shader every textured-quad program shares: aPosition (fed
    // with two components) through uMvp, aTexCoord passed on as vTexCoord.
    static const char* const kQuadVertexShader;

    // Feeds that shader from the bound quad buffer (x, y, u, v floats per
    // vertex); attributes at location -1 are skipped. Disable after the draw.
    static void enableQuadAttributes(const GlFunctions& gl, GLint aPosition, GLint aTexCoord);
    static void disableQuadAttributes(const GlFunctions& gl, GLint aPosition, GLint aTexCoord);

    // ownerName must outlive the builder ("QuadRenderer").
    ShaderBuilder(const GlFunctions& gl, const char* ownerName);

    // The linked program, or 0 when a stage failed to compile or the link
    // failed (notice printed, nothing left behind).
    GLuint build(const char* vertexSource, const char* fragmentSource) const;

private:
    GLuint compile(GLenum stage, const std::string& source) const;

    const GlFunctions& m_gl;
    const char* m_ownerName;
};

}  // namespace lagwell
