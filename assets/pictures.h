// The pictures and sounds of havoc.dat, each written into a folder.
#pragma once

#include <string>

// Draws every picture into dir as a TGA; false when one cannot be written.
bool draw_pictures(const std::string &dir);

// Synthesises every sound into dir as a WAV; false when one cannot be written.
bool make_sounds(const std::string &dir);
