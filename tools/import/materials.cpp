// Materials and pictures for the importer. Pictures the engine can load as they are (PNG or
// JPEG, power-of-two sides) are copied byte for byte; anything else is decoded and resampled to
// power-of-two sides (the mipmap chain halves down to 1) and written as PNG.
#include "import/materials.h"

#include "writers/picture_writer.h"

#include <assimp/GltfMaterial.h>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sceneimport {

std::string formatLine(const char* fmt, ...) {
    char text[768];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

namespace {

constexpr size_t kMaxTextureReference = 260; // a Windows path's limit; longer is refused as absurd
constexpr long kMaxPictureFileBytes = 64L << 20;
constexpr int kJpegQuality = 95; // for JPEGs that had to be resampled

struct Source {
    std::string key;  // identifies the picture across materials
    std::string name; // the name it came with, for the output name
    std::vector<uint8_t> bytes;
    int rawWidth = 0, rawHeight = 0; // uncompressed embedded texels (BGRA), else 0
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string bareName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    bool ok = size >= 0 && size <= kMaxPictureFileBytes && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize(size_t(size));
        ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    return ok;
}

// An absolute path or one that climbs out of the model's folder is never followed: only its
// bare name is looked for beside the model.
bool leavesFolder(const std::string& ref) {
    if (ref.empty()) return false;
    if (ref[0] == '/' || (ref.size() > 1 && ref[1] == ':')) return true;
    size_t start = 0;
    while (start <= ref.size()) {
        const size_t end = std::min(ref.find('/', start), ref.size());
        if (ref.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

bool readSource(const aiString& reference, const aiScene& scene, const std::string& folder,
                const std::string& modelStem, Source& source, std::string& reason) {
    const std::string ref(reference.C_Str(), reference.length);
    if (const aiTexture* embedded = scene.GetEmbeddedTexture(reference.C_Str())) {
        unsigned index = 0;
        while (index < scene.mNumTextures && scene.mTextures[index] != embedded)
            ++index;
        source.key = formatLine("*%u", index);
        source.name = embedded->mFilename.length ? bareName(embedded->mFilename.C_Str()) : "";
        // Named after the model, so two models imported into one folder keep their own.
        if (source.name.empty() || source.name[0] == '*')
            source.name = formatLine("%s_%u", modelStem.c_str(), index);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(embedded->pcData);
        if (embedded->mHeight == 0) {
            source.bytes.assign(data, data + embedded->mWidth);
        } else {
            source.rawWidth = int(std::min(embedded->mWidth, 1u << 15));
            source.rawHeight = int(std::min(embedded->mHeight, 1u << 15));
            source.bytes.assign(data, data + size_t(source.rawWidth) * source.rawHeight * 4);
        }
        return true;
    }
    if (ref.size() > kMaxTextureReference) {
        reason = formatLine("its reference is %zu characters long", ref.size());
        return false;
    }
    if (folder.empty()) {
        reason = "external pictures are not read for a model in memory";
        return false;
    }
    std::string path = ref;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.rfind("file://", 0) == 0) path.erase(0, 7);
    const std::string bare = bareName(path);
    if (bare.empty() || bare == "." || bare == "..") {
        reason = "the reference names no file";
        return false;
    }
    source.name = bare;
    if (!leavesFolder(path) && readWholeFile(folder + "/" + path, source.bytes)) {
        source.key = folder + "/" + path;
        return true;
    }
    if (readWholeFile(folder + "/" + bare, source.bytes)) {
        source.key = folder + "/" + bare;
        return true;
    }
    reason = leavesFolder(path)
                 ? "it points outside the model's folder and '" + bare + "' is not beside the model"
                 : "the file is missing";
    return false;
}

bool powerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

// The power of two nearest to side (geometrically), at most kMaxPictureSide.
int nearestPowerOfTwo(int side) {
    int p = 1;
    while (p * 2 <= side)
        p *= 2;
    if (p<kMaxPictureSide&& double(side) / p> std::sqrt(2.0)) p *= 2;
    return std::min(p, kMaxPictureSide);
}

std::vector<uint8_t> resample(const uint8_t* rgba, int w, int h, int nw, int nh) {
    std::vector<uint8_t> out(size_t(nw) * nh * 4);
    for (int y = 0; y < nh; ++y) {
        const float sy = std::clamp((y + 0.5f) * h / nh - 0.5f, 0.0f, float(h - 1));
        const int y0 = int(sy), y1 = std::min(y0 + 1, h - 1);
        const float fy = sy - y0;
        for (int x = 0; x < nw; ++x) {
            const float sx = std::clamp((x + 0.5f) * w / nw - 0.5f, 0.0f, float(w - 1));
            const int x0 = int(sx), x1 = std::min(x0 + 1, w - 1);
            const float fx = sx - x0;
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int px, int py) {
                    return float(rgba[(size_t(py) * w + px) * 4 + c]);
                };
                const float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * fx;
                const float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * fx;
                out[(size_t(y) * nw + x) * 4 + c] = uint8_t(std::lround(top + (bottom - top) * fy));
            }
        }
    }
    return out;
}

bool anyTransparent(const uint8_t* rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i)
        if (rgba[i * 4 + 3] != 255) return true;
    return false;
}

// Pixels of alpha 0 take the colour of the nearest opaque ones, with the edge fill of our own
// cut-out pictures: the loaders turn them black, and mipmaps and filtering would bleed that
// into the visible edges as dark rims. Other alpha values stay as they are. True when any
// pixel was clear.
bool fillClearPixels(std::vector<uint8_t>& rgba, int w, int h) {
    const size_t pixels = size_t(w) * size_t(h);
    bool any = false;
    for (size_t i = 0; i < pixels && !any; ++i)
        any = rgba[i * 4 + 3] == 0;
    if (!any) return false;
    pictures::Canvas canvas(w, h);
    for (size_t i = 0; i < pixels; ++i)
        canvas.pixels[i] = {rgba[i * 4] / 255.0f, rgba[i * 4 + 1] / 255.0f,
                            rgba[i * 4 + 2] / 255.0f, rgba[i * 4 + 3] / 255.0f};
    pictures::cutAlpha(canvas);
    for (size_t i = 0; i < pixels; ++i) {
        const pictures::Color& c = canvas.pixels[i];
        if (rgba[i * 4 + 3] != 0 || c.a <= 0) continue;
        rgba[i * 4 + 0] = uint8_t(std::lround(std::clamp(c.r, 0.0f, 1.0f) * 255.0f));
        rgba[i * 4 + 1] = uint8_t(std::lround(std::clamp(c.g, 0.0f, 1.0f) * 255.0f));
        rgba[i * 4 + 2] = uint8_t(std::lround(std::clamp(c.b, 0.0f, 1.0f) * 255.0f));
        rgba[i * 4 + 3] = 1;
    }
    return true;
}

// Turns source bytes into a picture; hasAlpha tells whether any pixel is not opaque.
bool makePicture(const Source& source, Picture& picture, bool& hasAlpha, bool& converted,
                 bool& filled, std::string& reason) {
    int w = 0, h = 0, channels = 0;
    std::vector<uint8_t> rgba;
    const bool raw = source.rawWidth > 0;
    if (raw) {
        w = source.rawWidth;
        h = source.rawHeight;
        channels = 4;
    } else if (source.bytes.size() > size_t(kMaxPictureFileBytes) ||
               !stbi_info_from_memory(source.bytes.data(), int(source.bytes.size()), &w, &h,
                                      &channels) ||
               w <= 0 || h <= 0) {
        reason = "it is not a picture that can be read";
        return false;
    }
    const bool png =
        !raw && source.bytes.size() > 8 && std::memcmp(source.bytes.data(), "\x89PNG", 4) == 0;
    const bool jpeg = !raw && source.bytes.size() > 3 && source.bytes[0] == 0xFF &&
                      source.bytes[1] == 0xD8 && source.bytes[2] == 0xFF;
    const bool usable = powerOfTwo(w) && powerOfTwo(h) && w <= kMaxPictureSide &&
                        h <= kMaxPictureSide && channels >= 3;
    hasAlpha = false;
    converted = !raw;
    // Decoded once: a PNG with alpha is looked at first, and rewritten from the same pixels.
    int dw = 0, dh = 0;
    bool decoded = false;
    const auto decode = [&] {
        int dc = 0;
        uint8_t* pixels =
            stbi_load_from_memory(source.bytes.data(), int(source.bytes.size()), &dw, &dh, &dc, 4);
        if (!pixels) {
            reason = "it is not a picture that can be read";
            return false;
        }
        rgba.assign(pixels, pixels + size_t(dw) * dh * 4);
        stbi_image_free(pixels);
        decoded = true;
        return true;
    };
    bool clearPixels = false;
    if (usable && png && channels == 4) {
        if (!decode()) return false;
        hasAlpha = anyTransparent(rgba.data(), size_t(dw) * dh);
        for (size_t i = 0; i < size_t(dw) * dh && !clearPixels; ++i)
            clearPixels = rgba[i * 4 + 3] == 0;
    }
    // A usable PNG with clear pixels is rewritten only for the edge fill, which has its own note.
    if (png && usable && clearPixels) converted = false;
    if ((png || jpeg) && usable && !clearPixels) {
        converted = false;
        picture.fileBytes = source.bytes;
        picture.width = w;
        picture.height = h;
        return true;
    }
    if (raw) {
        // Assimp's texels are blue, green, red, alpha.
        rgba.resize(size_t(w) * h * 4);
        for (size_t i = 0; i < size_t(w) * h; ++i) {
            rgba[i * 4 + 0] = source.bytes[i * 4 + 2];
            rgba[i * 4 + 1] = source.bytes[i * 4 + 1];
            rgba[i * 4 + 2] = source.bytes[i * 4 + 0];
            rgba[i * 4 + 3] = source.bytes[i * 4 + 3];
        }
    } else {
        if (!decoded && !decode()) return false;
        w = dw;
        h = dh;
    }
    hasAlpha = anyTransparent(rgba.data(), size_t(w) * h);
    if (fillClearPixels(rgba, w, h)) filled = true;
    const int nw = nearestPowerOfTwo(w), nh = nearestPowerOfTwo(h);
    picture.rgba = (nw == w && nh == h) ? std::move(rgba) : resample(rgba.data(), w, h, nw, nh);
    picture.width = nw;
    picture.height = nh;
    if (jpeg) {
        // A photograph stays a JPEG: a PNG of it would be several times larger.
        picture.fileBytes = pictures::encodeJpeg(nw, nh, picture.rgba, kJpegQuality, true);
        picture.rgba.clear();
    }
    return true;
}

// The picture's name in the table, making and storing the picture on first use. Empty when the
// texture cannot be used; reason says why.
std::string pictureFor(const aiString& reference, const aiScene& scene, const std::string& folder,
                       PictureTable& table, ImportResult& result, bool& hasAlpha,
                       std::string& reason) {
    Source source;
    if (!readSource(reference, scene, folder, table.modelStem, source, reason)) return "";
    const auto known = table.bySource.find(source.key);
    if (known != table.bySource.end()) {
        hasAlpha = known->second.hasAlpha;
        return known->second.name;
    }
    Picture picture;
    bool converted = false, filled = false;
    if (!makePicture(source, picture, hasAlpha, converted, filled, reason)) return "";
    const bool jpeg = !picture.fileBytes.empty() && picture.fileBytes[0] == 0xFF;
    picture.name = uniquePictureName(source.name, jpeg ? ".jpg" : ".png", table);
    table.bySource[source.key] = KnownPicture{picture.name, hasAlpha};
    if (converted)
        result.notes.push_back(formatLine("picture '%s': written as %s of %dx%d (the engine "
                                          "loads PNG and JPEG with power-of-two sides)",
                                          source.name.c_str(), picture.name.c_str(), picture.width,
                                          picture.height));
    if (filled)
        result.notes.push_back(formatLine("picture '%s': clear pixels take the colour of the "
                                          "opaque ones beside them (no dark rims)",
                                          picture.name.c_str()));
    result.pictures.push_back(std::move(picture));
    return result.pictures.back().name;
}

const char* typeName(aiTextureType type) {
    switch (type) {
    case aiTextureType_SPECULAR:
        return "specular";
    case aiTextureType_AMBIENT:
        return "ambient";
    case aiTextureType_EMISSIVE:
        return "emissive";
    case aiTextureType_HEIGHT:
        return "height";
    case aiTextureType_NORMALS:
        return "normal";
    case aiTextureType_SHININESS:
        return "shininess";
    case aiTextureType_OPACITY:
        return "opacity";
    case aiTextureType_DISPLACEMENT:
        return "displacement";
    case aiTextureType_LIGHTMAP:
        return "light";
    case aiTextureType_REFLECTION:
        return "reflection";
    case aiTextureType_METALNESS:
        return "metalness";
    case aiTextureType_DIFFUSE_ROUGHNESS:
        return "roughness";
    case aiTextureType_AMBIENT_OCCLUSION:
        return "occlusion";
    default:
        return "other";
    }
}

} // namespace

std::string uniquePictureName(const std::string& sourceName, const char* extension,
                              PictureTable& table) {
    std::string stem = sourceName;
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem.erase(dot);
    for (char& c : stem) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!keep) c = '_';
    }
    if (stem.empty() || stem[0] == '.') stem.insert(0, "tex");
    const size_t ext = std::strlen(extension);
    // Room for the extension and a clash number of up to six digits.
    const size_t room = kTextureNameChars - ext - 7;
    if (stem.size() > room) stem.resize(room);
    std::string name = stem + extension;
    for (int n = 2; table.usedNames.count(lower(name)); ++n)
        name = stem + "_" + std::to_string(n) + extension;
    table.usedNames.insert(lower(name));
    return name;
}

MaterialImport importMaterial(const aiMaterial& material, const aiScene& scene,
                              const std::string& sourceFolder, PictureTable& table,
                              ImportResult& result) {
    MaterialImport out;
    scenewriter::MaterialDesc& d = out.desc;
    aiString name;
    out.name = material.Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length ? name.C_Str()
                                                                               : "(unnamed)";
    aiColor4D diffuse(0.8f, 0.8f, 0.8f, 1.0f);
    if (material.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) != AI_SUCCESS)
        material.Get(AI_MATKEY_BASE_COLOR, diffuse);
    aiColor3D ambient(0, 0, 0), specular(0, 0, 0), emissive(0, 0, 0);
    material.Get(AI_MATKEY_COLOR_AMBIENT, ambient);
    material.Get(AI_MATKEY_COLOR_SPECULAR, specular);
    material.Get(AI_MATKEY_COLOR_EMISSIVE, emissive);
    float opacity = 1.0f, shininess = 0.0f, strength = 1.0f;
    material.Get(AI_MATKEY_OPACITY, opacity);
    material.Get(AI_MATKEY_SHININESS, shininess);
    material.Get(AI_MATKEY_SHININESS_STRENGTH, strength);
    int twoSided = 0, blend = aiBlendMode_Default;
    material.Get(AI_MATKEY_TWOSIDED, twoSided);
    material.Get(AI_MATKEY_BLEND_FUNC, blend);
    aiString alphaMode;
    const bool gltfMode = material.Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == AI_SUCCESS;
    const std::string mode = gltfMode ? alphaMode.C_Str() : "";

    auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
    const float dc[3] = {unit(diffuse.r), unit(diffuse.g), unit(diffuse.b)};
    const bool ambientSet = ambient.r > 0 || ambient.g > 0 || ambient.b > 0;
    for (int i = 0; i < 3; ++i) {
        d.diffuse[i] = dc[i];
        d.ambient[i] = ambientSet ? unit((&ambient.r)[i]) : dc[i];
        d.specular[i] = unit((&specular.r)[i]);
    }
    d.specularLevel = std::isfinite(strength) ? std::clamp(strength, 0.0f, 10.0f) : 1.0f;
    // The engine's exponent is shininess x 100; OpenGL allows at most 128.
    d.shininess = std::isfinite(shininess) ? std::clamp(shininess, 0.0f, 128.0f) / 100.0f : 0.0f;
    // Below an exponent of 1 the highlight covers every lit surface, washing the diffuse colour
    // out to the specular one (white for many exporters): the highlight is left out instead.
    const bool specularSet = d.specular[0] > 0 || d.specular[1] > 0 || d.specular[2] > 0;
    if (d.specularLevel > 0 && specularSet && !(d.shininess * 100.0f >= 1.0f)) {
        d.specularLevel = 0;
        result.notes.push_back(formatLine("material '%s': specular without a shininess "
                                          "exponent (%g) would light every surface to its "
                                          "specular colour; left out",
                                          out.name.c_str(), double(d.shininess * 100.0f)));
    }
    d.opacity = unit(opacity);
    if (mode == "BLEND") d.opacity = std::min(d.opacity, unit(diffuse.a));
    if (twoSided) d.flags |= 8;
    if (blend == aiBlendMode_Additive) d.flags |= 0x20;

    std::string summary;
    aiString reference;
    const aiTextureType colourTypes[2] = {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR};
    bool hasTexture = false;
    for (aiTextureType type : colourTypes)
        if (!hasTexture && material.GetTextureCount(type) > 0 &&
            material.GetTexture(type, 0, &reference) == AI_SUCCESS) {
            hasTexture = true;
        }
    if (hasTexture) {
        bool hasAlpha = false;
        std::string reason;
        d.texture = pictureFor(reference, scene, sourceFolder, table, result, hasAlpha, reason);
        if (d.texture.empty()) {
            result.notes.push_back(formatLine("material '%s': texture '%.200s' left out: %s",
                                              out.name.c_str(), reference.C_Str(), reason.c_str()));
        } else if (mode == "MASK" || (mode != "OPAQUE" && hasAlpha)) {
            // Alpha-tested: opaque texels in the first pass, the rest blended in the second.
            d.flags |= 2;
        }
    }
    if (material.GetTextureCount(aiTextureType_DIFFUSE) > 1)
        result.notes.push_back(formatLine("material '%s': %u more diffuse textures dropped (the "
                                          "engine draws one)",
                                          out.name.c_str(),
                                          material.GetTextureCount(aiTextureType_DIFFUSE) - 1));
    std::string dropped;
    for (int t = aiTextureType_SPECULAR; t <= aiTextureType_AMBIENT_OCCLUSION; ++t) {
        const aiTextureType type = aiTextureType(t);
        if (type == aiTextureType_BASE_COLOR || type == aiTextureType_UNKNOWN) continue;
        if (material.GetTextureCount(type) > 0)
            dropped += std::string(dropped.empty() ? "" : ", ") + typeName(type);
    }
    if (!dropped.empty())
        result.notes.push_back(formatLine("material '%s': %s maps dropped (the engine draws only "
                                          "the colour texture)",
                                          out.name.c_str(), dropped.c_str()));
    const float glow = std::max({unit(emissive.r), unit(emissive.g), unit(emissive.b)});
    if (glow > 0 && d.texture.empty()) {
        d.selfIllumination = glow;
        result.notes.push_back(formatLine("material '%s': emissive colour approximated as "
                                          "self-illumination %.2f of the diffuse colour",
                                          out.name.c_str(), double(glow)));
    }

    summary = formatLine("diffuse %.2f %.2f %.2f", double(dc[0]), double(dc[1]), double(dc[2]));
    if (!d.texture.empty()) summary += ", texture " + d.texture;
    if (d.specularLevel > 0 && (d.specular[0] > 0 || d.specular[1] > 0 || d.specular[2] > 0))
        summary += formatLine(", specular %.2f shininess %.0f", double(d.specularLevel),
                              double(d.shininess * 100));
    if (d.opacity < 0.99f) summary += formatLine(", opacity %.2f (blended)", double(d.opacity));
    if (d.flags & 2) summary += ", alpha-tested";
    if (d.flags & 0x20) summary += ", additive";
    if (d.flags & 8) summary += ", two-sided";
    out.summary = summary;
    return out;
}

} // namespace sceneimport
