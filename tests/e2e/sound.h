// End-to-end support, sound capture: a private HOME whose sound goes into a
// WAV file as it plays, and how loud that file is where.
#pragma once

#include <string>
#include <vector>

// Fills `home` so the library's ALSA driver plays into a null device and
// the mix is kept, in real time, as home/sound.wav.
void write_sound_home(const std::string &home);

// Stereo 16-bit samples of a captured WAV file.
struct Sound {
    int rate = 0;
    std::vector<short> left, right;
};
Sound read_sound(const std::string &path);
// RMS of a channel over [from, to) seconds.
double rms(const std::vector<short> &channel, int rate, double from, double to);
// Seconds of sound captured so far (the file grows as the sound plays).
double sound_seconds(const std::string &path);
// Loudness of each channel over [from, to) seconds of the capture.
struct Stereo {
    double left, right;
};
Stereo loudness(const std::string &path, double from, double to);
const double AUDIBLE = 300;  // RMS of a 16-bit channel that clearly holds sound
