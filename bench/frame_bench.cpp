// Frame rates of havoc's loops at the screen's own size and depth. Each loop
// is driven frame by frame with scripted input and ticks, as the frame tests
// drive it, and timed over a fixed number of frames against the bare frame:
// the picture copied to the back buffer and the back buffer to the screen,
// with no tool work at all. Prints one table: frames per second, the ratio
// to the bare frame of the same round, peak resident memory, and the heap
// allocations made during the timed frames.
//   havoc_frame_bench [frames per run] [runs]
#include "alloc_count.h"
#include "frame/harness.h"

#include "palette/palette.h"
#include "tools/bat.h"
#include "tools/lady.h"
#include "tools/laser.h"
#include "tools/lightsaber.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

static const int DEFAULT_FRAMES = 500;
static const int DEFAULT_RUNS = 9;

// The reference: only the two whole-screen copies every loop makes.
static void run_bare_frame()
{
    for (;;) {
        if (key[KEY_ESC])
            return;
        copy_background();
        show_frame();
    }
}

// Scripts give the whole visit, warm-up frames included; ticks count up by
// one a frame from 1, so the tools' first step is due at once.
static Input centre(int buttons)
{
    return {1, SCREEN_W / 2, SCREEN_H / 2, buttons, {}};
}

static Script held_button(int frames) { return hold(frames, centre(1)); }
static Script no_button(int frames) { return hold(frames, centre(0)); }

// The fade's pass at tick 0, then the fade is over and the pointer rests on
// the lightsaber's icon, with the button up or held down on it.
static Script palette_with(int frames, int buttons)
{
    Input on_icon = {PALETTE_FADE_TICKS, palette_slot_x(TOOL_SABER), palette_slot_y(), buttons, {}};
    return Script{{0, on_icon.x, on_icon.y, 0, {}}} + hold(frames - 1, on_icon);
}
static Script palette_idle(int frames) { return palette_with(frames, 0); }
static Script palette_pressed(int frames) { return palette_with(frames, 1); }

// A fast hand sweeping the lit blade across the middle of the screen and
// back. The pointer moves as the ticks tell the time: tick_count goes up by
// one every frames_per_tick frames, which main sets from the bare frame's
// rate in the same round, and the pointer moves on at each tick, as a mouse
// that reports a hundred times a second. The blade is lit first, one tick a
// frame with the pointer still.
static const int SWEEP_PIXELS_PER_SECOND = 3000;
static const int SWEEP_SPAN = 800;
static const int TICKS_PER_SECOND = 1000 / TICK_MS;
static const int IGNITION_TICKS = 10;
static int frames_per_tick = 1;

static Script saber_sweep(int frames)
{
    Script s = held_button(frames);
    int left = SCREEN_W / 2 - SWEEP_SPAN / 2;
    int per_tick = SWEEP_PIXELS_PER_SECOND / TICKS_PER_SECOND;
    for (int i = 0; i < frames; ++i) {
        int tick = i < IGNITION_TICKS ? i : IGNITION_TICKS + (i - IGNITION_TICKS) / frames_per_tick;
        int along = std::max(tick - IGNITION_TICKS, 0) * per_tick % (2 * SWEEP_SPAN);
        s[i].ticks = 1 + tick;
        s[i].x = left + (along <= SWEEP_SPAN ? along : 2 * SWEEP_SPAN - along);
    }
    return s;
}

struct BenchLoop {
    const char *name;
    void (*run)();
    Script (*script)(int frames);
    // Frames shown before the timed ones: the palette's fade pass, the
    // blade's ignition and the spark pools filling up.
    int warmup;
};

static const BenchLoop loops[] = {
    {"bare frame (reference)", run_bare_frame, no_button, 10},
    {"palette, idle", [] { run_palette(); }, palette_idle, 10},
    {"palette, icon pressed", [] { run_palette(); }, palette_pressed, 10},
    {"bat, swinging", run_bat, held_button, 10},
    {"lightsaber, sweeping", run_saber, saber_sweep, 100},
    {"laser, firing", run_laser, held_button, 20},
    {"lady, walking", run_lady, no_button, 10},
};
static const int LOOP_COUNT = sizeof loops / sizeof loops[0];

// Peak resident memory, reset before each loop so each gets its own.
static void reset_peak_memory()
{
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

static double peak_memory_mib()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    std::fclose(f);
    return kib / 1024.0;
}

struct Measurement {
    double fps;
    double cpu_ms;   // the loop's own thread's CPU time a frame
    double peak_mib;
    AllocCounts allocations;
};

// CPU time of the calling thread, in ms: what a busy machine disturbs far
// less than the clock on the wall, as the loops never wait.
static double thread_cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static Measurement measure(const BenchLoop &loop, int frames)
{
    using clock = std::chrono::steady_clock;
    reset_scene();
    Script script = loop.script(loop.warmup + frames);
    int first = loop.warmup - 1, last = loop.warmup + frames - 1;
    clock::time_point start, end;
    double cpu_start = 0, cpu_end = 0;
    Measurement m = {};
    reset_peak_memory();
    // Timed from the show step before the first measured frame to the show
    // step of the last one: exactly `frames` whole frames.
    drive(loop.run, script, [&](int frame) {
        if (frame == first) {
            start_counting_allocations();
            start = clock::now();
            cpu_start = thread_cpu_ms();
        } else if (frame == last) {
            end = clock::now();
            cpu_end = thread_cpu_ms();
            m.allocations = stop_counting_allocations();
        }
    });
    m.fps = frames / std::chrono::duration<double>(end - start).count();
    m.cpu_ms = (cpu_end - cpu_start) / frames;
    m.peak_mib = peak_memory_mib();
    return m;
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static void print_load(const char *when)
{
    double load[1];
    if (getloadavg(load, 1) == 1)
        std::printf("load average (1 min) %s: %.2f\n", when, load[0]);
}

int main(int argc, char **argv)
{
    int frames = argc > 1 ? std::atoi(argv[1]) : DEFAULT_FRAMES;
    int runs = argc > 2 ? std::atoi(argv[2]) : DEFAULT_RUNS;
    if (frames < 1 || runs < 1) {
        std::fprintf(stderr, "usage: %s [frames per run] [runs]\n", argv[0]);
        return 2;
    }

    if (!start_scene(false))
        return 2;

    std::printf("havoc frame benchmark: %dx%d at %d bits per pixel, %d frames a run, %d runs\n",
                SCREEN_W, SCREEN_H, bitmap_color_depth(screen), frames, runs);
    print_load("before");
    // Rounds of every loop in turn, so each round's reference is measured
    // under the same conditions as the loops it is compared with.
    std::vector<std::vector<Measurement>> results(LOOP_COUNT);
    for (int run = 0; run < runs; ++run)
        for (int i = 0; i < LOOP_COUNT; ++i) {
            results[i].push_back(measure(loops[i], frames));
            // The first loop is the bare frame: its rate paces the sweep.
            if (i == 0)
                frames_per_tick = std::max(1, (int)(results[0][run].fps / TICKS_PER_SECOND + 0.5));
        }
    print_load("after");

    std::printf("\n%-32s %9s %9s %9s %10s %12s %12s\n", "loop", "fps", "vs bare", "CPU ms",
                "peak RSS", "allocs main", "allocs other");
    for (int i = 0; i < LOOP_COUNT; ++i) {
        std::vector<double> fps, ratio, cpu;
        double peak = 0;
        int64_t main_allocs = 0, other_allocs = 0;
        for (int run = 0; run < runs; ++run) {
            const Measurement &m = results[i][run];
            fps.push_back(m.fps);
            cpu.push_back(m.cpu_ms);
            ratio.push_back(m.fps / results[0][run].fps);
            peak = std::max(peak, m.peak_mib);
            main_allocs += m.allocations.this_thread;
            other_allocs += m.allocations.other_threads;
        }
        std::printf("%-32s %9.0f %9.2f %9.2f %6.1f MiB %12lld %12lld\n", loops[i].name, median(fps),
                    median(ratio), median(cpu), peak, (long long)main_allocs, (long long)other_allocs);
    }
    std::printf("\nfps, vs bare and CPU ms: medians over the runs (vs bare: this loop's fps over\n"
                "the bare frame's in the same round; CPU ms: the loop's thread's CPU time a\n"
                "frame); allocations: totals over all timed frames, on the\n"
                "loop's own thread and on the library's background threads. The sweep moved\n"
                "%d px a tick, a tick every %d frames in the last round.\n",
                SWEEP_PIXELS_PER_SECOND / TICKS_PER_SECOND, frames_per_tick);

    end_scene();
    return 0;
}
