// Every sound of havoc.dat, synthesised: mono 16-bit PCM at 44100 Hz, each
// scaled to a fixed peak so none clips and the set plays at even levels.
#include "sounds.h"

#include "kit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const int RATE = 44100;

using Wave = std::vector<double>;

Wave silence(double seconds)
{
    return Wave((size_t)std::lround(seconds * RATE), 0.0);
}

double white(Random &rng)
{
    return next_unit(rng) * 2 - 1;
}

// Second-order filters (the audio cookbook's biquads), run in place.
struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double run(double x)
    {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        return y;
    }
};

Biquad band_pass(double hz, double q)
{
    double w = 2 * PI * hz / RATE, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    return {alpha / a0, 0, -alpha / a0, -2 * std::cos(w) / a0, (1 - alpha) / a0};
}

Biquad low_pass(double hz, double q = 0.707)
{
    double w = 2 * PI * hz / RATE, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha, c = std::cos(w);
    return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}

Biquad high_pass(double hz, double q = 0.707)
{
    double w = 2 * PI * hz / RATE, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha, c = std::cos(w);
    return {(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}

// Moves a running filter to new settings; it keeps what it remembers of the
// signal, so the sweep has no seam.
void retune(Biquad &f, Biquad settings)
{
    settings.x1 = f.x1, settings.x2 = f.x2, settings.y1 = f.y1, settings.y2 = f.y2;
    f = settings;
}

void filter(Wave &w, Biquad f)
{
    for (double &s : w)
        s = f.run(s);
}

// Adds `part` into `w` from sample `at`; with `wrap`, what runs past the end
// comes round to the start, so a loop has no seam.
void add(Wave &w, const Wave &part, size_t at, double gain = 1, bool wrap = false)
{
    for (size_t i = 0; i < part.size(); ++i) {
        size_t j = at + i;
        if (j >= w.size()) {
            if (!wrap)
                break;
            j %= w.size();
        }
        w[j] += part[i] * gain;
    }
}

// Short linear ramps at both ends, so nothing starts or stops with a click.
void fade(Wave &w, double in_seconds, double out_seconds)
{
    size_t in = (size_t)(in_seconds * RATE), out = (size_t)(out_seconds * RATE);
    for (size_t i = 0; i < in && i < w.size(); ++i)
        w[i] *= (double)i / in;
    for (size_t i = 0; i < out && i < w.size(); ++i)
        w[w.size() - 1 - i] *= (double)i / out;
}

void scale_to_peak(Wave &w, double peak)
{
    double top = 0;
    for (double s : w)
        top = std::max(top, std::fabs(s));
    if (top > 0)
        for (double &s : w)
            s *= peak / top;
}

// A decaying sine: one ringing partial of a glass shard.
Wave ring(double hz, double decay, double seconds)
{
    Wave w = silence(seconds);
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        w[i] = std::sin(2 * PI * hz * t) * std::exp(-t / decay);
    }
    return w;
}

// A saw-like hum from additive harmonics, its pitch following hz(t).
template <typename Pitch>
Wave hum(double seconds, Pitch hz, int harmonics, double brightness)
{
    Wave w = silence(seconds);
    double phase = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        double f = hz(t);
        phase += 2 * PI * f / RATE;
        double s = 0;
        for (int n = 1; n <= harmonics && n * f < RATE / 2.2; ++n)
            s += std::sin(n * phase) / std::pow(n, brightness);
        w[i] = s;
    }
    return w;
}

Wave glass()
{
    Random rng{0x61A55u};
    Wave w = silence(1.1);
    // The blow: a sharp broadband crack and a dull knock under it.
    Wave crack = silence(0.08);
    for (size_t i = 0; i < crack.size(); ++i)
        crack[i] = white(rng) * std::exp(-(double)i / RATE / 0.009);
    filter(crack, high_pass(1200));
    add(w, crack, 0, 1.0);
    Wave knock = silence(0.12);
    for (size_t i = 0; i < knock.size(); ++i) {
        double t = (double)i / RATE;
        knock[i] = std::sin(2 * PI * (140 - 200 * t) * t) * std::exp(-t / 0.03);
    }
    add(w, knock, 0, 0.5);
    // The sheet giving way: a bright hiss dying over a few tenths.
    Wave hiss = silence(0.7);
    for (size_t i = 0; i < hiss.size(); ++i) {
        double t = (double)i / RATE;
        hiss[i] = white(rng) * std::min(1.0, t / 0.004) * std::exp(-t / 0.13);
    }
    filter(hiss, high_pass(2500));
    filter(hiss, low_pass(11000));
    add(w, hiss, 0, 0.45);
    // Shards falling and ringing: many small inharmonic pings, thick at first.
    for (int k = 0; k < 90; ++k) {
        double u = next_unit(rng);
        double at = 0.01 + 0.85 * std::pow(u, 1.7);
        double loud = (0.35 + 0.65 * next_unit(rng)) * std::exp(-at / 0.38);
        double base = 2200 + 4000 * next_unit(rng);
        double decay = 0.012 + 0.05 * next_unit(rng);
        Wave shard = silence(decay * 6);
        const double ratios[] = {1, 2.32, 3.71};
        for (int p = 0; p < 3; ++p)
            if (base * ratios[p] < 17000)
                add(shard, ring(base * ratios[p], decay / (1 + p), decay * 6), 0, 1.0 / (1 + p));
        // The tick of the shard landing.
        Wave tick = silence(0.003);
        for (size_t i = 0; i < tick.size(); ++i)
            tick[i] = white(rng) * (1 - (double)i / tick.size());
        filter(tick, band_pass(base * 1.3, 1.0));
        add(shard, tick, 0, 0.8);
        add(w, shard, (size_t)(at * RATE), 0.32 * loud);
    }
    filter(w, high_pass(60));
    fade(w, 0, 0.08);
    scale_to_peak(w, 0.89);
    return w;
}

Wave laser()
{
    Random rng{0x1A5E4u};
    Wave w = silence(0.34);
    double phase = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        // A fast falling chirp, edged like a square wave, with a buzz.
        double f = 260 + 2600 * std::exp(-t / 0.055);
        phase += 2 * PI * f / RATE;
        double tone = std::tanh(2.5 * std::sin(phase)) * (0.8 + 0.2 * std::sin(2 * PI * 75 * t));
        double env = std::min(1.0, t / 0.002) * std::exp(-t / 0.1);
        w[i] = tone * env + white(rng) * 0.5 * std::exp(-t / 0.006);
    }
    filter(w, low_pass(9000));
    filter(w, high_pass(80));
    fade(w, 0.001, 0.05);
    scale_to_peak(w, 0.89);
    return w;
}

// The hum as the blade burns, 1.6 s, soft at both ends: played once per
// start and again whenever it has ended.
Wave lightsaber_hum()
{
    Random rng{0x5AB3u};
    const double seconds = 1.6;
    Wave a = hum(seconds, [](double t) { return 88 + 1.2 * std::sin(2 * PI * 0.8 * t); }, 40, 1.0);
    Wave b = hum(seconds, [](double t) { return 90.5 + 0.8 * std::sin(2 * PI * 1.3 * t + 1); }, 40, 1.2);
    Wave w = silence(seconds);
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        double swell = 0.85 + 0.15 * std::sin(2 * PI * 5.5 * t);
        double s = (a[i] + 0.7 * b[i]) * swell;
        w[i] = std::tanh(0.8 * s) + 0.04 * white(rng);
    }
    filter(w, low_pass(2400, 0.9));
    filter(w, high_pass(55));
    fade(w, 0.05, 0.25);
    scale_to_peak(w, 0.7);
    return w;
}

// Ignition: a snap, then the hum rushing up to pitch with a rising hiss.
Wave saber_on()
{
    Random rng{0x0A0Bu};
    const double seconds = 0.8;
    Wave tone = hum(seconds, [](double t) { return 32 + 58 * (1 - std::exp(-t / 0.09)); }, 40, 1.0);
    Wave hiss = silence(seconds);
    for (double &s : hiss)
        s = white(rng);
    Wave w = silence(seconds);
    Biquad sweep = band_pass(600, 2);
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        // Retune the band as it goes: the hiss rises with the blade.
        if (i % 64 == 0)
            retune(sweep, band_pass(500 + 3500 * std::min(1.0, t / 0.25), 1.5));
        double swell = std::min(1.0, t / 0.03) * (1 + 0.6 * std::exp(-t / 0.15));
        double h = sweep.run(hiss[i]) * std::exp(-t / 0.18);
        double snap = white(rng) * std::exp(-t / 0.004);
        w[i] = std::tanh(0.9 * tone[i]) * swell * 0.6 + h * 1.2 + snap * 0.7;
    }
    filter(w, low_pass(6000));
    filter(w, high_pass(40));
    fade(w, 0.0005, 0.3);
    scale_to_peak(w, 0.89);
    return w;
}

// Extinguishing: the hum falls away in pitch and loudness with a sigh.
Wave saber_off()
{
    Random rng{0x0FFu};
    const double seconds = 0.7;
    Wave tone = hum(seconds, [](double t) { return 90 - 62 * (1 - std::exp(-t / 0.16)); }, 40, 1.1);
    Wave w = silence(seconds);
    Biquad breath = band_pass(1800, 1.2);
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE;
        if (i % 64 == 0)
            retune(breath, band_pass(2400 * std::exp(-t / 0.2) + 250, 1.2));
        double env = std::exp(-t / 0.2);
        w[i] = std::tanh(0.9 * tone[i]) * env * 0.6 + breath.run(white(rng)) * env * 0.9;
    }
    filter(w, low_pass(5000));
    filter(w, high_pass(40));
    fade(w, 0.004, 0.25);
    scale_to_peak(w, 0.89);
    return w;
}

// One bite: a voiced, nasal "mam" through a closing mouth, with the
// crackle of chewing on top.
Wave bite(Random &rng, double pitch, double length)
{
    Wave w = silence(length);
    Biquad f1 = band_pass(480, 4), f2 = band_pass(1150, 5), nasal = low_pass(320, 1.2);
    Biquad crunch = band_pass(1900, 1.2);
    double phase = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        double t = (double)i / RATE, x = t / length;
        double env = std::min(1.0, t / 0.012) * std::pow(1 - x, 1.5);
        // The first formant sinks as the lips close on the "m".
        if (i % 64 == 0)
            retune(f1, band_pass(480 - 200 * x, 4));
        phase += pitch * (1 + 0.12 * std::sin(PI * x)) / RATE;
        double saw = 2 * (phase - std::floor(phase)) - 1;
        double voice = 1.6 * f1.run(saw) + 0.7 * f2.run(saw) + 0.9 * nasal.run(saw);
        double grit = next_unit(rng) < 0.03 ? white(rng) * 6 : 0;
        w[i] = env * (voice + 0.5 * crunch.run(grit));
    }
    return w;
}

// Munching for as long as the lady walks: two bites, "mam" and "pf", in a
// loop whose end runs straight into its start.
Wave munching()
{
    Random rng{0x3A3Fu};
    const double seconds = 0.5;
    Wave w = silence(seconds);
    add(w, bite(rng, 150, 0.16), (size_t)(0.00 * RATE), 1.0, true);
    add(w, bite(rng, 120, 0.12), (size_t)(0.25 * RATE), 0.7, true);
    // A soft breath between the bites, rendered round the loop too.
    Wave puff = silence(0.08);
    Biquad air = band_pass(1400, 0.8);
    for (size_t i = 0; i < puff.size(); ++i) {
        double t = (double)i / RATE;
        puff[i] = air.run(white(rng)) * std::sin(PI * t / 0.08);
    }
    add(w, puff, (size_t)(0.17 * RATE), 0.25, true);
    add(w, puff, (size_t)(0.39 * RATE), 0.18, true);
    // Round the loop as well: the filters' tails wrap into the start.
    Wave smooth = w;
    Wave twice(w.size() * 2);
    for (size_t i = 0; i < twice.size(); ++i)
        twice[i] = w[i % w.size()];
    filter(twice, low_pass(4200));
    filter(twice, high_pass(70));
    for (size_t i = 0; i < w.size(); ++i)
        smooth[i] = twice[i + w.size()];
    w = smooth;
    scale_to_peak(w, 0.8);
    return w;
}

void put16(FILE *f, unsigned v)
{
    std::fputc(v & 255, f);
    std::fputc((v >> 8) & 255, f);
}

void put32(FILE *f, uint32_t v)
{
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

bool save_wave(const std::string &dir, const char *name, const Wave &w)
{
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "make_havoc_data: cannot write %s\n", path.c_str());
        return false;
    }
    const uint32_t bytes = (uint32_t)w.size() * 2;
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);       // format chunk size
    put16(f, 1);        // PCM
    put16(f, 1);        // mono
    put32(f, RATE);
    put32(f, RATE * 2); // bytes per second
    put16(f, 2);        // bytes per frame
    put16(f, 16);       // bits per sample
    std::fwrite("data", 1, 4, f);
    put32(f, bytes);
    for (double s : w) {
        long v = std::lround(std::max(-1.0, std::min(1.0, s)) * 32767);
        put16(f, (unsigned)(v & 0xFFFF));
    }
    bool ok = std::fclose(f) == 0;
    if (!ok)
        std::fprintf(stderr, "make_havoc_data: cannot write %s\n", path.c_str());
    return ok;
}

} // namespace

bool make_sounds(const std::string &dir)
{
    bool ok = true;
    ok &= save_wave(dir, "laser.wav", laser());
    ok &= save_wave(dir, "glass.wav", glass());
    ok &= save_wave(dir, "lightsaber.wav", lightsaber_hum());
    ok &= save_wave(dir, "saber0.wav", saber_on());
    ok &= save_wave(dir, "saberout.wav", saber_off());
    ok &= save_wave(dir, "mampf.wav", munching());
    return ok;
}
