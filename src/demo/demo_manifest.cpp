// The manifest's reader: TOML through toml++ (header-only, without exceptions), then every rule
// of the format checked with the line and column of the value at fault.
#include "demo/demo_manifest.h"

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

const char* const kCueOverlayNames[kCueOverlayCount] = {
    "none", "fade-in", "fade-out-white", "fade-out-black", "final-fade", "pulse", "orbit"};

int demoLoadSteps(const DemoManifest& manifest) {
    return 1 + manifest.sceneCount + manifest.logoCount + 1;
}

float cueDurationMs(int32_t rows, double rowMs) {
    return float(double(rows) * rowMs);
}

float cueProgress(const Cue& cue, float timerStart, float demoSeconds, double rowMs) {
    const float elapsed = demoSeconds - timerStart;
    return elapsed * 1000.0f / cueDurationMs(cue.rows, rowMs);
}

void addManifestError(ManifestErrors& errors, const char* fileName, ManifestSpot at,
                      const char* format, ...) {
    ++errors.count;
    if (!errors.text || errors.bytes <= 0) return;
    const size_t used = std::strlen(errors.text);
    const size_t room = size_t(errors.bytes) - used;
    if (room <= 1) return;
    const int head = std::snprintf(errors.text + used, room, "%s:%d:%d: ", fileName, int(at.line),
                                   int(at.column));
    if (head < 0 || size_t(head) >= room) {
        errors.text[used] = '\0'; // a line is whole or absent
        return;
    }
    va_list args;
    va_start(args, format);
    const int body = std::vsnprintf(errors.text + used + head, room - size_t(head), format, args);
    va_end(args);
    if (body < 0 || size_t(head + body) + 1 >= room) {
        errors.text[used] = '\0';
        return;
    }
    errors.text[used + size_t(head + body)] = '\n';
    errors.text[used + size_t(head + body) + 1] = '\0';
}

namespace {

// toml++ 3.3 reaches __builtin_unreachable() when it asks whether some characters are white
// space (U+00A1 to U+0499, U+2C4E to U+3047 but U+3000, U+FBD6 to U+FEFE), which it does for
// any character after a malformed value. The reader is given those as private-use characters
// instead, one for one, so lines and columns stay; what is read is mapped back.
constexpr struct {
    char32_t first, last, to;
} kShifted[] = {{0xA1, 0x499, 0xE000},
                {0x2C4E, 0x2FFF, 0xE400},
                {0x3001, 0x3047, 0xE7B2},
                {0xFBD6, 0xFEFE, 0xE800}};
constexpr char32_t kShiftedFirst = 0xE000, kShiftedLast = 0xEBFF;

// One UTF-8 sequence at text[i]; false (and i unmoved) for a malformed one.
bool decodeUtf8(const std::string_view text, size_t& i, char32_t& c) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    const int extra = lead < 0x80                   ? 0
                      : lead >= 0xF0 && lead < 0xF5 ? 3
                      : lead >= 0xE0                ? 2
                      : lead >= 0xC2                ? 1
                                                    : -1;
    if (extra < 0 || i + size_t(extra) >= text.size() + (extra == 0)) return false;
    c = extra == 0 ? lead : char32_t(lead & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return false;
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    i += size_t(extra) + 1;
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// forward: the text the reader may be given; false when it holds the private-use characters
// the shift uses (at, for the message). Malformed UTF-8 passes as it is: the reader says so.
bool shiftForReader(std::string_view text, std::string& out, bool forward, ManifestSpot* at) {
    out.clear();
    out.reserve(text.size());
    int32_t line = 1, column = 1;
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        char32_t c = 0;
        if (!decodeUtf8(text, i, c)) {
            out += text[i++];
            continue;
        }
        char32_t mapped = c;
        for (const auto& r : kShifted) {
            if (forward && c >= r.first && c <= r.last) mapped = r.to + (c - r.first);
            if (!forward && c >= r.to && c <= r.to + (r.last - r.first))
                mapped = r.first + (c - r.to);
        }
        if (forward && c >= kShiftedFirst && c <= kShiftedLast) {
            if (at) *at = {line, column};
            return false;
        }
        if (mapped == c)
            out.append(text.substr(start, i - start));
        else
            appendUtf8(out, mapped);
        ++column;
        if (c == '\n') {
            ++line;
            column = 1;
        }
    }
    return true;
}

std::string unshift(std::string_view text) {
    std::string out;
    shiftForReader(text, out, false, nullptr);
    return out;
}

ManifestSpot spotOf(const toml::node& node) {
    return {int32_t(node.source().begin.line), int32_t(node.source().begin.column)};
}

// "order:row", each 0 to 255: the unit of cue windows is order * 256 + row.
bool parsePosition(const std::string& text, int32_t& position) {
    unsigned order = 0, row = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%3u:%3u%n", &order, &row, &used) != 2) return false;
    if (size_t(used) != text.size() || order > 255 || row > 255) return false;
    if (text[0] < '0' || text[0] > '9' || text[text.find(':') + 1] < '0' ||
        text[text.find(':') + 1] > '9')
        return false;
    position = int32_t(order * 256 + row);
    return true;
}

struct Reader {
    const char* file;
    ManifestErrors& errors;
    DemoManifest& out;
    std::vector<const toml::node*> sheets; // every "cues" array, wherever TOML put it

    void fail(const toml::node& at, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        char line[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        addManifestError(errors, file, spotOf(at), "%s", line);
    }

    // A string that fits bytes (with its terminator); what fails names itself.
    bool text(const toml::node& node, const char* what, char* dest, size_t bytes) {
        const auto* value = node.as_string();
        if (!value) {
            fail(node, "%s must be a string", what);
            return false;
        }
        const std::string s = unshift(value->get());
        if (s.empty() || s.size() >= bytes || s.find('\0') != std::string::npos) {
            fail(node, "%s must be 1 to %d bytes", what, int(bytes) - 1);
            return false;
        }
        std::memcpy(dest, s.c_str(), s.size() + 1);
        return true;
    }

    bool whole(const toml::node& node, const char* what, int64_t low, int64_t high, int32_t& dest) {
        const auto* value = node.as_integer();
        if (!value || value->get() < low || value->get() > high) {
            fail(node, "%s must be a whole number from %lld to %lld", what, (long long)low,
                 (long long)high);
            return false;
        }
        dest = int32_t(value->get());
        return true;
    }

    bool number(const toml::node& node, const char* what, double& dest) {
        if (const auto* f = node.as_floating_point())
            dest = f->get();
        else if (const auto* i = node.as_integer())
            dest = double(i->get());
        else {
            fail(node, "%s must be a number", what);
            return false;
        }
        return true;
    }

    bool position(const toml::node& node, const char* what, int32_t& dest) {
        const auto* value = node.as_string();
        if (!value || !parsePosition(value->get(), dest)) {
            fail(node, "%s must be a position \"order:row\" (each 0 to 255)", what);
            return false;
        }
        return true;
    }
};

// A table's entries in the order they were written (toml++ keeps them sorted by key).
std::vector<std::pair<std::string, const toml::node*>> inSourceOrder(const toml::table& table) {
    std::vector<std::pair<std::string, const toml::node*>> entries;
    for (const auto& [key, node] : table)
        entries.push_back({unshift(key.str()), &node});
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const auto& pa = a.second->source().begin;
        const auto& pb = b.second->source().begin;
        return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });
    return entries;
}

int findName(const char (*names)[kDemoNameBytes], int count, const std::string& name) {
    for (int i = 0; i < count; ++i)
        if (name == names[i]) return i;
    return -1;
}

void readDemoTable(Reader& r, const toml::table& demo, const toml::node& where) {
    bool haveMusic = false;
    for (const auto& [key, node] : inSourceOrder(demo)) {
        if (key == "music") {
            haveMusic = r.text(*node, "[demo] music", r.out.music, sizeof r.out.music);
        } else if (key == "loading") {
            r.text(*node, "[demo] loading", r.out.loading, sizeof r.out.loading);
        } else if (key == "row_ms") {
            double ms = 0;
            if (!r.number(*node, "[demo] row_ms", ms)) continue;
            if (ms > 0.0 && ms <= 60000.0)
                r.out.rowMs = ms;
            else
                r.fail(*node, "[demo] row_ms must be above 0 and at most 60000");
        } else if (key == "cues" && node->is_array()) {
            r.sheets.push_back(node); // written after [demo]: TOML puts it in this table
        } else if (key == "end") {
            int32_t end = 0;
            if (r.position(*node, "[demo] end", end)) {
                r.out.endFirst = end;
                // Up to 99:99 as the built-in demo; a later end holds to the last position.
                r.out.endLast = end <= 99 * 256 + 99 ? 99 * 256 + 99 : 255 * 256 + 255;
                r.out.endSpot = spotOf(*node);
            }
        } else {
            r.fail(*node, "[demo]: unknown key \"%s\"", key.c_str());
        }
    }
    if (!haveMusic && !demo.contains("music")) r.fail(where, "[demo]: no music");
}

// [scenes] or [logos]: name = file, in the order written.
void readNamedFiles(Reader& r, const toml::table& table, const char* what, int budget,
                    char (*names)[kDemoNameBytes], char (*files)[kDemoFileBytes], int32_t& count) {
    for (const auto& [key, node] : inSourceOrder(table)) {
        // A cue sheet written after [scenes] or [logos] lands in that table: it is still the
        // cue sheet (a scene or logo is always a string).
        if (key == "cues" && node->is_array()) {
            r.sheets.push_back(node);
            continue;
        }
        if (count == budget) {
            r.fail(*node, "[%s]: more than %d, the budget", what, budget);
            return;
        }
        if (key.empty() || key.size() >= size_t(kDemoNameBytes)) {
            r.fail(*node, "[%s]: a name must be 1 to %d bytes", what, kDemoNameBytes - 1);
            continue;
        }
        char label[kDemoNameBytes + 16];
        std::snprintf(label, sizeof label, "[%s] %s", what, key.c_str());
        if (!r.text(*node, label, files[count], kDemoFileBytes)) continue;
        std::memcpy(names[count], key.c_str(), key.size() + 1);
        ++count;
    }
}

void readCue(Reader& r, const toml::node& node, int number, int (&timerOwner)[kCueTimerCount]) {
    const toml::table* table = node.as_table();
    if (!table) {
        r.fail(node, "cue %d must be a table { timer = ..., from = ..., ... }", number);
        return;
    }
    Cue cue{};
    cue.timer = -1;
    cue.first = cue.last = -1;
    cue.rows = -1;
    cue.scene = kNoDemoScene;
    cue.factor = 1.0f;
    cue.overlay = CueOverlay::None;
    cue.logo = -1;
    cue.orbit[0] = cue.orbit[1] = cue.orbit[2] = -1;
    const int errorsBefore = r.errors.count;
    const toml::node *fromNode = nullptr, *toNode = nullptr, *logoNode = nullptr,
                     *boxNode = nullptr, *orbitNode = nullptr, *cameraNode = nullptr;
    char what[48];
    for (const auto& [key, value] : inSourceOrder(*table)) {
        std::snprintf(what, sizeof what, "cue %d: \"%s\"", number, key.c_str());
        if (key == "timer") {
            if (r.whole(*value, what, 0, kCueTimerCount - 1, cue.timer)) {
                if (timerOwner[cue.timer] != 0)
                    r.fail(*value, "cue %d: timer %d is already cue %d's", number, int(cue.timer),
                           timerOwner[cue.timer]);
                else
                    timerOwner[cue.timer] = number;
            }
        } else if (key == "from") {
            if (r.position(*value, what, cue.first)) fromNode = value;
        } else if (key == "to") {
            if (r.position(*value, what, cue.last)) toNode = value;
        } else if (key == "rows") {
            r.whole(*value, what, 1, kMaxCueRows, cue.rows);
        } else if (key == "scene") {
            const auto* name = value->as_string();
            const std::string text = name ? unshift(name->get()) : std::string();
            cue.scene = name ? findName(r.out.sceneNames, r.out.sceneCount, text) : -1;
            if (!name)
                r.fail(*value, "%s must be a string", what);
            else if (cue.scene < 0)
                r.fail(*value, "cue %d: unknown scene \"%s\"", number, text.c_str());
        } else if (key == "camera") {
            cameraNode = value;
            r.whole(*value, what, 0, 65535, cue.camera);
        } else if (key == "factor") {
            double factor = 1.0;
            if (r.number(*value, what, factor)) {
                if (!(factor >= 0.0 && factor <= 1000.0))
                    r.fail(*value, "%s must be from 0 to 1000", what);
                cue.factor = float(factor);
            }
        } else if (key == "overlay") {
            const auto* name = value->as_string();
            int found = -1;
            for (int i = 0; name && i < kCueOverlayCount; ++i)
                if (name->get() == kCueOverlayNames[i]) found = i;
            if (found < 0)
                r.fail(*value,
                       "cue %d: overlay must be one of none, fade-in, fade-out-white, "
                       "fade-out-black, final-fade, pulse, orbit",
                       number);
            else
                cue.overlay = CueOverlay(found);
        } else if (key == "logo") {
            logoNode = value;
            const auto* name = value->as_string();
            const std::string text = name ? unshift(name->get()) : std::string();
            cue.logo = name ? findName(r.out.logoNames, r.out.logoCount, text) : -1;
            if (!name)
                r.fail(*value, "%s must be a string", what);
            else if (cue.logo < 0)
                r.fail(*value, "cue %d: unknown logo \"%s\"", number, text.c_str());
        } else if (key == "box") {
            boxNode = value;
            const toml::array* box = value->as_array();
            double v[4] = {};
            bool ok = box && box->size() == 4;
            for (size_t i = 0; ok && i < 4; ++i)
                ok = (*box)[i].is_number() && r.number((*box)[i], what, v[i]);
            if (!ok)
                r.fail(*value, "%s must be [x, y, width, height]", what);
            else
                cue.box = {float(v[0]), float(v[1]), float(v[2]), float(v[3])};
        } else if (key == "orbit") {
            orbitNode = value;
            const toml::array* names = value->as_array();
            if (!names || names->size() != 3) {
                r.fail(*value, "%s must name three logos", what);
                continue;
            }
            for (size_t i = 0; i < 3; ++i) {
                const auto* name = (*names)[i].as_string();
                const std::string text = name ? unshift(name->get()) : std::string();
                cue.orbit[i] = name ? findName(r.out.logoNames, r.out.logoCount, text) : -1;
                if (cue.orbit[i] < 0)
                    r.fail((*names)[i], "cue %d: unknown logo %s%s%s", number, name ? "\"" : "",
                           name ? text.c_str() : "(not a string)", name ? "\"" : "");
            }
        } else {
            r.fail(*value, "cue %d: unknown key \"%s\"", number, key.c_str());
        }
    }
    const char* missing = !table->contains("timer")  ? "timer"
                          : !table->contains("from") ? "from"
                          : !table->contains("to")   ? "to"
                          : !table->contains("rows") ? "rows"
                                                     : nullptr;
    if (missing) r.fail(node, "cue %d: no \"%s\"", number, missing);
    if (fromNode && toNode && cue.last < cue.first)
        r.fail(*toNode, "cue %d: \"to\" %d:%d is before \"from\" %d:%d", number,
               int(cue.last / 256), int(cue.last % 256), int(cue.first / 256),
               int(cue.first % 256));
    if (cameraNode && !table->contains("scene"))
        r.fail(*cameraNode, "cue %d: a camera needs a scene", number);
    if (cue.overlay == CueOverlay::LogoPulse) {
        if (!logoNode) r.fail(node, "cue %d: overlay \"pulse\" needs a logo", number);
        if (!boxNode) r.fail(node, "cue %d: overlay \"pulse\" needs a box", number);
    } else if (logoNode || boxNode) {
        r.fail(logoNode ? *logoNode : *boxNode, "cue %d: \"%s\" goes with overlay \"pulse\"",
               number, logoNode ? "logo" : "box");
    }
    if (cue.overlay == CueOverlay::LogoOrbit && !orbitNode)
        r.fail(node, "cue %d: overlay \"orbit\" needs three logos in \"orbit\"", number);
    else if (cue.overlay != CueOverlay::LogoOrbit && orbitNode)
        r.fail(*orbitNode, "cue %d: \"orbit\" goes with overlay \"orbit\"", number);
    if (r.errors.count != errorsBefore) return;
    const int index = r.out.cueCount++;
    r.out.cues[index] = cue;
    r.out.cueSpots[index][0] = spotOf(*fromNode);
    r.out.cueSpots[index][1] = spotOf(*toNode);
}

} // namespace

bool parseDemoManifest(const char* text, size_t size, const char* fileName, DemoManifest& out,
                       ManifestErrors& errors) {
    out = DemoManifest{};
    const int errorsBefore = errors.count;
    static std::string shifted;
    ManifestSpot privateUse;
    if (!shiftForReader(std::string_view(text, size), shifted, true, &privateUse)) {
        addManifestError(errors, fileName, privateUse,
                         "private-use characters U+E000 to U+EBFF are not taken");
        return false;
    }
    toml::parse_result parsed = toml::parse(std::string_view(shifted), std::string_view(fileName));
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        const std::string description = unshift(error.description());
        addManifestError(errors, fileName,
                         {int32_t(error.source().begin.line), int32_t(error.source().begin.column)},
                         "%s", description.c_str());
        return false;
    }
    const toml::table& root = parsed.table();
    Reader r{fileName, errors, out, {}};
    const toml::node *demo = nullptr, *scenes = nullptr, *logos = nullptr, *cues = nullptr;
    for (const auto& [key, node] : inSourceOrder(root)) {
        const bool table = node->is_table();
        if (key == "demo" && table)
            demo = node;
        else if (key == "scenes" && table)
            scenes = node;
        else if (key == "logos" && table)
            logos = node;
        else if (key == "cues" && node->is_array())
            cues = node;
        else if (key == "demo" || key == "scenes" || key == "logos" || key == "cues")
            r.fail(*node, "\"%s\" must be %s", key.c_str(), key == "cues" ? "an array" : "a table");
        else
            r.fail(*node, "unknown key \"%s\"", key.c_str());
    }
    const ManifestSpot top = {1, 1};
    if (cues) r.sheets.push_back(cues);
    if (!demo)
        addManifestError(errors, fileName, top, "no [demo] table");
    else
        readDemoTable(r, *demo->as_table(), *demo);
    if (scenes)
        readNamedFiles(r, *scenes->as_table(), "scenes", kMaxDemoScenes, out.sceneNames,
                       out.sceneFiles, out.sceneCount);
    if (logos)
        readNamedFiles(r, *logos->as_table(), "logos", kMaxDemoLogos, out.logoNames, out.logoFiles,
                       out.logoCount);
    cues = r.sheets.empty() ? nullptr : r.sheets.front();
    for (size_t i = 1; i < r.sheets.size(); ++i)
        r.fail(*r.sheets[i], "a second cue sheet (the first is at line %d)",
               int(cues->source().begin.line));
    if (!cues) {
        addManifestError(errors, fileName, top, "no cues");
    } else {
        const toml::array& sheet = *cues->as_array();
        if (sheet.size() > size_t(kMaxCues)) {
            r.fail(*cues, "%zu cues, more than %d, the budget", sheet.size(), kMaxCues);
        } else {
            static int timerOwner[kCueTimerCount];
            std::fill(std::begin(timerOwner), std::end(timerOwner), 0);
            int number = 0;
            for (const toml::node& cue : sheet)
                readCue(r, cue, ++number, timerOwner);
        }
    }
    return errors.count == errorsBefore;
}

bool readDemoManifest(const char* path, DemoManifest& out, ManifestErrors& errors) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        addManifestError(errors, path, {0, 0}, "cannot be opened: %s", std::strerror(errno));
        return false;
    }
    std::vector<char> text(size_t(kManifestMaxBytes) + 1);
    const size_t size = std::fread(text.data(), 1, text.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError || size > size_t(kManifestMaxBytes)) {
        addManifestError(errors, path, {0, 0},
                         readError ? "cannot be read" : "larger than %d bytes", kManifestMaxBytes);
        return false;
    }
    return parseDemoManifest(text.data(), size, path, out, errors);
}

bool checkManifestPositions(const DemoManifest& manifest, const MusicShape& music,
                            const char* fileName, ManifestErrors& errors) {
    const int errorsBefore = errors.count;
    const auto inside = [&](int32_t position) {
        const int32_t order = position / 256, row = position % 256;
        return order < music.orders && order < 256 && row < music.rows[order];
    };
    const auto say = [&](ManifestSpot at, const char* what, int32_t position) {
        const int32_t order = position / 256;
        if (order >= music.orders)
            addManifestError(errors, fileName, at,
                             "%s %d:%d is past the music's end (orders 0 to %d)", what, int(order),
                             int(position % 256), int(music.orders) - 1);
        else
            addManifestError(errors, fileName, at,
                             "%s %d:%d is past the music's end (order %d has rows 0 to %d)", what,
                             int(order), int(position % 256), int(order),
                             int(music.rows[order]) - 1);
    };
    char what[48];
    for (int i = 0; i < manifest.cueCount; ++i) {
        const Cue& cue = manifest.cues[i];
        std::snprintf(what, sizeof what, "cue %d: \"from\"", i + 1);
        if (!inside(cue.first)) say(manifest.cueSpots[i][0], what, cue.first);
        std::snprintf(what, sizeof what, "cue %d: \"to\"", i + 1);
        if (!inside(cue.last)) say(manifest.cueSpots[i][1], what, cue.last);
    }
    if (manifest.endFirst != INT32_MAX && !inside(manifest.endFirst))
        say(manifest.endSpot, "[demo] end", manifest.endFirst);
    return errors.count == errorsBefore;
}
