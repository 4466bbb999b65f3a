#include "ShaderBuilder.h"

#include "Log.h"

#include <algorithm>
#include <cstring>

namespace lagwell {
namespace {

constexpr const char kDesktopPrefix[] = "#version 120\n#define lowp\n#define mediump\n#define highp\n";
constexpr const char kGlesFragmentPrefix[] = "precision mediump float;\n";
constexpr GLsizei kInfoLogBytes = 1024;

}  // namespace

const char* const ShaderBuilder::kQuadVertexShader =
    "attribute vec4 aPosition;\n"
    "attribute vec2 aTexCoord;\n"
    "uniform mat4 uMvp;\n"
    "varying vec2 vTexCoord;\n"
    "void main() {\n"
    "    vTexCoord = aTexCoord;\n"
    "    gl_Position = uMvp * aPosition;\n"
    "}\n";

ShaderBuilder::ShaderBuilder(const GlFunctions& gl, const char* ownerName) : m_gl(gl), m_ownerName(ownerName) {}

GLuint ShaderBuilder::build(const char* vertexSource, const char* fragmentSource) const
{
    const char* version = reinterpret_cast<const char*>(m_gl.glGetString(GL_VERSION));
    const bool gles = version && std::strncmp(version, "OpenGL ES", 9) == 0;
    const std::string vertexText = (gles ? std::string() : std::string(kDesktopPrefix)) + vertexSource;
    const std::string fragmentText = std::string(gles ? kGlesFragmentPrefix : kDesktopPrefix) + fragmentSource;

    const GLuint vertex = compile(GL_VERTEX_SHADER, vertexText);
    const GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentText);
    if (!vertex || !fragment) {
        if (vertex)
            m_gl.glDeleteShader(vertex);
        if (fragment)
            m_gl.glDeleteShader(fragment);
        return 0;
    }

    GLuint program = m_gl.glCreateProgram();
    m_gl.glAttachShader(program, vertex);
    m_gl.glAttachShader(program, fragment);
    m_gl.glLinkProgram(program);
    // The program keeps what it needs; the shaders are flagged for deletion.
    m_gl.glDeleteShader(vertex);
    m_gl.glDeleteShader(fragment);
    GLint linked = GL_FALSE;
    m_gl.glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        char log[kInfoLogBytes] = {};
        GLsizei length = 0;
        m_gl.glGetProgramInfoLog(program, kInfoLogBytes, &length, log);
        length = std::clamp<GLsizei>(length, 0, kInfoLogBytes);
        logPlain("%s: program link failed: %.*s", m_ownerName, static_cast<int>(length), log);
        m_gl.glDeleteProgram(program);
        program = 0;
    }
    return program;
}

GLuint ShaderBuilder::compile(GLenum stage, const std::string& source) const
{
    const GLuint shader = m_gl.glCreateShader(stage);
    if (!shader)
        return 0;
    const GLchar* text = source.c_str();
    m_gl.glShaderSource(shader, 1, &text, nullptr);
    m_gl.glCompileShader(shader);
    GLint compiled = GL_FALSE;
    m_gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled == GL_TRUE)
        return shader;
    char log[kInfoLogBytes] = {};
    GLsizei length = 0;
    m_gl.glGetShaderInfoLog(shader, kInfoLogBytes, &length, log);
    length = std::clamp<GLsizei>(length, 0, kInfoLogBytes);
    logPlain("%s: shader compile failed: %.*s", m_ownerName, static_cast<int>(length), log);
    m_gl.glDeleteShader(shader);
    return 0;
}

void ShaderBuilder::enableQuadAttributes(const GlFunctions& gl, GLint aPosition, GLint aTexCoord)
{
    constexpr GLsizei kVertexStrideBytes = 4 * sizeof(float);
    if (aPosition != -1) {
        gl.glEnableVertexAttribArray(static_cast<GLuint>(aPosition));
        gl.glVertexAttribPointer(static_cast<GLuint>(aPosition), 2, GL_FLOAT, GL_FALSE, kVertexStrideBytes, nullptr);
    }
    if (aTexCoord != -1) {
        gl.glEnableVertexAttribArray(static_cast<GLuint>(aTexCoord));
        gl.glVertexAttribPointer(static_cast<GLuint>(aTexCoord), 2, GL_FLOAT, GL_FALSE, kVertexStrideBytes,
                                 reinterpret_cast<const void*>(2 * sizeof(float)));
    }
}

void ShaderBuilder::disableQuadAttributes(const GlFunctions& gl, GLint aPosition, GLint aTexCoord)
{
    if (aPosition != -1)
        gl.glDisableVertexAttribArray(static_cast<GLuint>(aPosition));
    if (aTexCoord != -1)
        gl.glDisableVertexAttribArray(static_cast<GLuint>(aTexCoord));
}

}  // namespace lagwell
