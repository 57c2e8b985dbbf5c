// The one interleaved vertex buffer that all scenes stream their geometry through, allocated
// once at start-up, with the vertex, normal and texture-coordinate client arrays pointing into
// it for the whole run. It does not write vertices (object drawing does). This module owns
// the buffer; the renderer writes into it and never sets array pointers of its own.
#pragma once

#include <GL/gl.h>

#include <cstdint>

// 32 bytes per vertex: position xyz, normal xyz, texture coordinate st, all 32-bit floats.
constexpr int kVertexStrideBytes = 32;
constexpr int kVertexPositionOffset = 0;
constexpr int kVertexNormalOffset = 12;
constexpr int kVertexTexCoordOffset = 24;
constexpr int kVertexFloats = kVertexStrideBytes / 4;
constexpr int kVertexMemoryCapacity = 150000; // what the shell asks for
constexpr int kMaxVertexFences = 64;

struct VertexMemory {
    int capacity = 0;           // vertices; the buffer has room for capacity + 1
    int sizeBytes = 0;          // (capacity + 1) * 32
    float* buffer = nullptr;    // kVertexFloats floats per vertex
    bool inVideoMemory = false; // from the vertex-array-range allocator and declared as range
    int fenceCount = 1;
    GLuint fences[kMaxVertexFences] = {};
    int writeOffset = 0; // where each frame's vertices start (in vertices)
};

extern VertexMemory vertexMemory;

// Allocates (capacity + 1) * 32 bytes, preferring video, then AGP memory when the
// vertex-array-range entry points were loaded, else the heap with a warning line; then binds
// the three client arrays to it. Needs the GL context current. Returns false only when even
// the heap refuses, after one log line; the shell must not render then.
bool allocVertexMemory(int capacity);

// Gives the buffer back and disables the three client arrays. Safe to call when nothing
// was allocated.
void releaseVertexMemory();
