#include "e2e/sound.h"

// gtest before the X headers, whose macros (None, Bool, ...) it would trip over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

void write_sound_home(const std::string &home)
{
    std::string setup = std::string(TEST_SCRIPTS_DIR) + "/write_sound_home.sh " + home;
    EXPECT_EQ(std::system(setup.c_str()), 0);
}

Sound read_sound(const std::string &path)
{
    Sound s;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Walk the RIFF chunks: the file is still being written, so sizes in
    // the header may be stale; the data runs to the end of the file.
    size_t pos = 12;
    int channels = 2;
    while (pos + 8 <= bytes.size()) {
        std::string id(&bytes[pos], 4);
        uint32_t size;
        std::memcpy(&size, &bytes[pos + 4], 4);
        if (id == "fmt ") {
            uint16_t ch;
            uint32_t rate;
            std::memcpy(&ch, &bytes[pos + 10], 2);
            std::memcpy(&rate, &bytes[pos + 12], 4);
            channels = ch;
            s.rate = (int)rate;
        } else if (id == "data") {
            size_t frames = (bytes.size() - pos - 8) / (2 * channels);
            const char *data = &bytes[pos + 8];
            for (size_t i = 0; i < frames; ++i) {
                short l, r;
                std::memcpy(&l, data + i * 2 * channels, 2);
                std::memcpy(&r, data + i * 2 * channels + (channels > 1 ? 2 : 0), 2);
                s.left.push_back(l);
                s.right.push_back(r);
            }
            break;
        }
        pos += 8 + size;
    }
    return s;
}

double rms(const std::vector<short> &channel, int rate, double from, double to)
{
    size_t a = (size_t)std::max(0.0, from * rate), b = std::min(channel.size(), (size_t)(to * rate));
    if (b <= a)
        return 0;
    double sum = 0;
    for (size_t i = a; i < b; ++i)
        sum += (double)channel[i] * channel[i];
    return std::sqrt(sum / (double)(b - a));
}

double sound_seconds(const std::string &path)
{
    Sound sound = read_sound(path);
    return sound.rate ? (double)sound.left.size() / sound.rate : 0;
}

Stereo loudness(const std::string &path, double from, double to)
{
    Sound sound = read_sound(path);
    return {rms(sound.left, sound.rate, from, to), rms(sound.right, sound.rate, from, to)};
}
