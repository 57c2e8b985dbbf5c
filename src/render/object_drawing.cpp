#include "render/object_drawing.h"

#include "render/vertex_memory.h"
#include "diag/console.h"
#include "diag/prof.h"
#include "image/texture.h"
#include "render/vertex_buffer_object.h"

#include <GL/gl.h>

uint32_t indexList[kIndexListEntries];

namespace {

void writeVertices(const SceneObject& object, int32_t offsetBytes) {
    float* out = vertexMemory.buffer + offsetBytes / 4;
    for (int32_t i = 0; i < object.vertexCount; ++i) {
        const ObjectVertex& v = object.vertices[i];
        out[0] = v.position[0];
        out[1] = v.position[1];
        out[2] = v.position[2];
        out[3] = v.normal[0];
        out[4] = v.normal[1];
        out[5] = v.normal[2];
        out[6] = v.texCoord[0];
        out[7] = v.texCoord[1];
        out += kVertexFloats;
    }
}

// Index count written, or -1 when the faces do not fit the table.
int32_t buildIndexList(const SceneObject& object, uint32_t firstVertex) {
    if (object.faceCount < 0 || object.faceCount > kIndexListEntries / 3) return -1;
    uint32_t* out = indexList;
    for (int32_t f = 0; f < object.faceCount; ++f) {
        const int32_t* idx = object.faces[f].indices;
        out[0] = uint32_t(idx[0]) + firstVertex;
        out[1] = uint32_t(idx[1]) + firstVertex;
        out[2] = uint32_t(idx[2]) + firstVertex;
        out += 3;
    }
    return object.faceCount * 3;
}

// The refusal is logged when it starts: bufferOffset then holds the marker until the object
// is placed again, which also forces that placement to rewrite its vertices.
void refuse(SceneObject& object, int32_t marker) {
    if (object.bufferOffset == marker) return;
    object.bufferOffset = marker;
    if (marker == kOffsetBeyondIndexList)
        consolePrint("Object skipped: %i faces exceed the index list of %i entries \n",
                     object.faceCount, kIndexListEntries);
    else
        consolePrint("Object skipped: %i vertices do not fit the vertex memory of %i \n",
                     object.vertexCount, vertexMemory.capacity);
}

// True when vertexCount vertices starting at offsetBytes lie inside the vertex memory.
bool fitsVertexMemory(int32_t offsetBytes, int32_t vertexCount) {
    if (vertexMemory.buffer == nullptr || offsetBytes < 0 || vertexCount < 0) return false;
    const int64_t end = int64_t(offsetBytes) + int64_t(vertexCount) * kVertexStrideBytes;
    return end <= int64_t(vertexMemory.capacity) * kVertexStrideBytes;
}

void multObjectTransform(const SceneObject& object) {
    const float* m = object.transform;
    const float matrix[16] = {m[0], m[1], m[2], 0.0f, m[3], m[4],  m[5],  0.0f,
                              m[6], m[7], m[8], 0.0f, m[9], m[10], m[11], 1.0f};
    glMultMatrixf(matrix);
}

} // namespace

void drawObject(SceneObject& object, int pass, int32_t& vertexCursor) {
    if (!object.visible || object.track == nullptr || object.material == nullptr) return;
    const Material& material = *object.material;
    const bool alphaTest = (material.flags & AlphaTest) != 0;
    const bool reuse = alphaTest && pass == 1;
    if (!alphaTest && pass != (material.transparent ? 1 : 0)) return;

    // Limits are checked before anything is touched, so a refused object leaves no trace.
    if (reuse) {
        // Refused (or never placed) in the opaque pass: nothing to reuse.
        if (!fitsVertexMemory(object.bufferOffset, object.vertexCount)) return;
    } else if (object.faceCount > kIndexListEntries / 3) {
        refuse(object, kOffsetBeyondIndexList);
        return;
    } else if (!fitsVertexMemory(vertexCursor, object.vertexCount)) {
        refuse(object, kOffsetBeyondVertexMemory);
        return;
    }

    profStart("91Geometry reload");
    const int32_t offset = reuse ? object.bufferOffset : vertexCursor;
    if (object.bufferOffset != offset) object.geometryDirty = true;
    object.bufferOffset = offset;
    const uint32_t firstVertex = uint32_t(offset / kVertexStrideBytes);
    if (!reuse) vertexCursor += kVertexStrideBytes * object.vertexCount;
    if (object.geometryDirty) {
        writeVertices(object, offset);
        uploadVertexRange(offset, object.vertexCount * kVertexStrideBytes);
        object.geometryDirty = false;
    }
    profStop("91Geometry reload");

    profStart("01Index list");
    const bool twoSided = (material.flags & TwoSided) != 0;
    if (twoSided) glDisable(GL_CULL_FACE);
    const int32_t indexCount = buildIndexList(object, firstVertex);
    profCount("07Polys", object.faceCount);
    profCount("09Vertices", object.vertexCount);
    profStop("01Index list");

    profStart("0AGLStuff");
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    multObjectTransform(object);
    if (material.textured && material.texture != nullptr) {
        glEnable(GL_TEXTURE_2D);
        bindTexture(material.texture);
    }
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, material.diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, material.ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, material.specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, material.shininess * 100.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, material.emission);
    if (alphaTest) glEnable(GL_ALPHA_TEST);
    if (pass == 1) {
        if (material.flags & Additive)
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        else
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    profStop("0AGLStuff");

    profStart("02Gl faces");
    glDrawElements(GL_TRIANGLES, indexCount, GL_UNSIGNED_INT, indexList);
    profStop("02Gl faces");

    profStart("0AGLStuff");
    if (material.textured) glDisable(GL_TEXTURE_2D);
    if (alphaTest) glDisable(GL_ALPHA_TEST);
    if (twoSided) glEnable(GL_CULL_FACE);
    glPopMatrix();
    profStop("0AGLStuff");
}
