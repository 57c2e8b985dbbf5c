// Writes a compressed scene bomb: a header and one track of an unknown type whose keys each
// announce a block of keyBytes, filled with zeros, as gzip members that are compressed once
// and repeated (so writing gigabytes of zeros costs milliseconds). For the loader's budget
// tests and benchmark; the file is complete, its key count matches the keys written.
#pragma once

#include <cstdint>
#include <string>

// Keeps adding keys until the file reaches fileBytes (at least one key). False when the file
// cannot be written.
bool writeSceneBomb(const std::string& path, int64_t fileBytes, int32_t keyBytes = 0x7fffffff);
