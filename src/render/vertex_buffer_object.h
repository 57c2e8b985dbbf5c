// The shared vertex memory mirrored in a GL buffer object (GL_ARB_vertex_buffer_object), the
// present-day form of placing it in video memory: vertices are still written into the
// system-memory copy, each written range is sent on to the buffer object, and the three arrays
// read from the buffer object. The player does not attach it: on Mesa's software driver it
// measured no faster than client arrays; hardware drivers may differ (bench_viewer_fps).
// This module owns the buffer object; the vertex memory itself stays vertex_memory's.
#pragma once

#include <cstdint>

// When extensions are allowed, the vertex memory is a system-memory buffer (a vertex array
// range is kept as it is) and the context advertises the extension: creates the buffer object
// at the vertex memory's size, points the three arrays into it, logs one line and returns
// true. Otherwise false, with no GL change. Call after allocVertexMemory, context current.
bool attachVertexBufferObject();

// Points the arrays back at the system-memory buffer and deletes the buffer object; nothing
// when none is attached. Call before releaseVertexMemory.
void detachVertexBufferObject();

bool vertexBufferObjectAttached();

// Sends bytes of the vertex memory from offsetBytes on to the buffer object; nothing when none
// is attached. Whoever writes into the vertex memory calls this afterwards (drawObject does).
void uploadVertexRange(int32_t offsetBytes, int32_t bytes);
