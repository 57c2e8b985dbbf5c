// Writing a manifest that reads back into the same record: floats in the fewest digits that
// give the same value, names quoted where TOML needs it, one cue a line.
#include "demo/demo_manifest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// A bare key when TOML allows one, else a quoted key.
std::string key(const char* name) {
    bool bare = name[0] != '\0';
    for (const char* p = name; *p && bare; ++p)
        bare = (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ||
               *p == '_' || *p == '-';
    return bare ? std::string(name) : quoted(name);
}

// The fewest significant digits that read back as the same float.
std::string shortest(float value) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    // TOML floats need a fraction or exponent; an integer-looking value gets ".0".
    if (!std::strpbrk(text, ".eE")) std::strcat(text, ".0");
    return text;
}

std::string position(int32_t at) {
    return "\"" + std::to_string(at / 256) + ":" + std::to_string(at % 256) + "\"";
}

} // namespace

std::string formatDemoManifest(const DemoManifest& m) {
    std::string out =
        "# A demo for quilm: play it with --demo FILE, or as the data folder's demo.toml.\n";
    out += "[demo]\nmusic = " + quoted(m.music) + "\n";
    if (m.loading[0] != '\0') out += "loading = " + quoted(m.loading) + "\n";
    char rowMs[40];
    std::snprintf(rowMs, sizeof rowMs, "%.17g", m.rowMs);
    if (!std::strpbrk(rowMs, ".eE")) std::strcat(rowMs, ".0");
    out += std::string("row_ms = ") + rowMs + "\n";
    if (m.endFirst != INT32_MAX) out += "end = " + position(m.endFirst) + "\n";
    out += "\n[scenes]\n";
    for (int i = 0; i < m.sceneCount; ++i)
        out += key(m.sceneNames[i]) + " = " + quoted(m.sceneFiles[i]) + "\n";
    out += "\n[logos]\n";
    for (int i = 0; i < m.logoCount; ++i)
        out += key(m.logoNames[i]) + " = " + quoted(m.logoFiles[i]) + "\n";
    out += "\ncues = [\n";
    for (int i = 0; i < m.cueCount; ++i) {
        const Cue& c = m.cues[i];
        out += "  { timer = " + std::to_string(c.timer) + ", from = " + position(c.first) +
               ", to = " + position(c.last) + ", rows = " + std::to_string(c.rows);
        if (c.scene >= 0 && c.scene < m.sceneCount)
            out += ", scene = " + quoted(m.sceneNames[c.scene]) +
                   ", camera = " + std::to_string(c.camera);
        if (c.factor != 1.0f) out += ", factor = " + shortest(c.factor);
        if (c.overlay != CueOverlay::None)
            out += std::string(", overlay = \"") + kCueOverlayNames[int(c.overlay)] + "\"";
        if (c.overlay == CueOverlay::LogoPulse && c.logo >= 0 && c.logo < m.logoCount)
            out += ", logo = " + quoted(m.logoNames[c.logo]) + ", box = [" + shortest(c.box.x) +
                   ", " + shortest(c.box.y) + ", " + shortest(c.box.width) + ", " +
                   shortest(c.box.height) + "]";
        if (c.overlay == CueOverlay::LogoOrbit) {
            out += ", orbit = [";
            for (int k = 0; k < 3; ++k) {
                const int logo = c.orbit[k];
                out += (k ? ", " : "") +
                       quoted(logo >= 0 && logo < m.logoCount ? m.logoNames[logo] : "");
            }
            out += "]";
        }
        out += " },\n";
    }
    out += "]\n";
    return out;
}

bool writeDemoManifest(const char* path, const DemoManifest& manifest) {
    const std::string text = formatDemoManifest(manifest);
    FILE* file = std::fopen(path, "wb");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file) ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "%s: cannot write the demo manifest: %s\n", path,
                     std::strerror(errno));
    return ok;
}
