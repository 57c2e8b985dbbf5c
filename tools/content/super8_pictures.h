// The film effect's four pictures, made procedurally: the lamp vignette "s8_lamp.jpg", the
// film-edge strip "s8_border.png", the leader sign "s8_sign.png" and the 4 x 4 dirt atlas
// "s8_drek.png". Used by make-sample and the data-set generator; they write into a directory.
#pragma once

#include <string>

namespace pictures {

// Writes the four files into dir (which must exist). False names the first file that failed.
bool writeSuper8Pictures(const std::string& dir, std::string* failedFile = nullptr);

} // namespace pictures
