// The pictures of havoc.dat, each written into a folder.
#pragma once

#include <string>

// Draws every picture into dir as a TGA; false when one cannot be written.
bool draw_pictures(const std::string &dir);
