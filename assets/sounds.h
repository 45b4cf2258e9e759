// The sounds of havoc.dat, each written into a folder.
#pragma once

#include <string>

// Synthesises every sound into dir as a WAV; false when one cannot be written.
bool make_sounds(const std::string &dir);
