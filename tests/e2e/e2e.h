// End-to-end support: the real havoc binary under a private Xvfb, with a
// known picture on the root window, real X input through XTEST, screenshots
// of the root window and the sound captured from ALSA into a WAV file.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

// A picture as 0xRRGGBB pixels.
struct Picture {
    int w = 0, h = 0;
    std::vector<int> rgb;
    int at(int x, int y) const { return rgb[(size_t)y * w + x]; }
};

// A private X server for one test, with a connection of the test's own.
struct XServer {
    // Xvfb with one screen of w x h x depth.
    XServer(int w, int h, int depth);
    // One that is already running, a compositor's XWayland say: connects only.
    explicit XServer(const std::string &display_name);
    // Any server command (Xorg with a config file, Xvfb with other options):
    // -displayfd, -nolisten tcp and -noreset are added. w, h and depth are
    // what the test will make of its screen.
    XServer(const std::vector<std::string> &command, int w, int h, int depth);
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    int w, h, depth;
    int pid = -1;
    std::string name;            // ":N"
    Display *display = nullptr;
};

// Puts a colourful test picture (or `file`) on the root window and returns
// what the screen then shows.
Picture set_root_picture(XServer &x, const std::string &file = "");
Picture screenshot(XServer &x);

// Input through XTEST. Presses are held long enough for a polling loop to
// see them.
void move_pointer(XServer &x, int px, int py);
// Relative motion, as a mouse gives it.
void move_pointer_by(XServer &x, int dx, int dy);
void press_button(XServer &x);
void release_button(XServer &x);
void click(XServer &x, int px, int py);
void tap_key(XServer &x, unsigned long keysym);
void pointer_position(XServer &x, int *px, int *py);

// The top-level windows that are mapped and viewable.
struct WindowSeen {
    int w, h;
    std::string name;
};
std::vector<WindowSeen> viewable_windows(XServer &x);
// True when some top-level window of the given size is mapped.
bool fullscreen_window_mapped(XServer &x);
// True when the test's own connection can grab keyboard and pointer
// (releasing them again at once).
bool can_grab_input(XServer &x);

// The data file the build made.
extern const std::string GOOD_DATA_FILE;

// A run of the real binary in a fresh working directory, with a private
// HOME whose ALSA output goes to sound.wav. The working directory holds only
// a copy of `data_file`, as havoc.dat, or nothing when it is empty.
// `launcher`, when given, starts it: the binary's path is its last argument.
struct Havoc {
    explicit Havoc(XServer *x, bool with_display = true, const std::string &data_file = GOOD_DATA_FILE,
                   const std::vector<std::string> &launcher = {});
    ~Havoc();
    Havoc(const Havoc &) = delete;
    Havoc &operator=(const Havoc &) = delete;

    // Waits for the process to end; false on timeout. `status` is waitpid's.
    bool wait_exit(double seconds);
    bool running();
    void signal(int sig);
    std::string stderr_text() const;
    std::vector<std::string> working_dir_files() const;
    std::string sound_file() const { return home + "/sound.wav"; }

    XServer *x;
    int pid = -1;
    std::chrono::system_clock::time_point started;   // just before it was started
    int status = 0;
    bool exited = false;
    std::string home, workdir, stderr_path;
};

// Starts args[0] (looked up in PATH) with exactly `env`, in `cwd` unless it
// is empty, with INT and QUIT at their defaults and nothing blocked. When
// `out_path` is given, stderr goes there and stdout to /dev/null. The pid.
int spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
          const std::string &cwd, const std::string &out_path);

// A new, empty folder /tmp/havoc-<what>.XXXXXX.
std::string make_temp_dir(const char *what);

// The whole of a file, empty when it cannot be read.
std::string read_file(const std::string &path);

// Polls `condition` every 20 ms until it holds or `seconds` pass.
bool wait_until(const std::function<bool()> &condition, double seconds);

// What a screen sampler saw from launch until the palette began to fade in.
struct Sampling {
    int samples = 0;
    int off = 0;             // samples with some pixel outside the strip off the desktop
    int worst = 0;           // the most such pixels in one sample
    double first_off_ms = -1, last_off_ms = -1;   // from the start of sampling
    double fade_ms = -1;     // the strip changed while all else showed the desktop
};
// Takes one sample after another, for at most `seconds`, until one shows
// the palette's strip changed and nothing else. `sample` returns how many
// pixels outside the strip differ from the desktop, and sets
// `strip_changed`; or a negative number when it could take no sample, which
// ends the sampling.
Sampling sample_until_fade(const std::function<int(bool &strip_changed)> &sample, double seconds);

// Geometry of the palette on a W x H screen with 64 x 64 icons and a 16 wide
// cap: the centre of a slot's icon, and the strip's rectangle.
int slot_x(int screen_w, int slot);
int slot_y(int screen_h);
struct Rect {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// Xorg with the dummy video driver, a graphics card with several outputs and
// the VidMode extension: `monitors`, left to right and the first one the
// primary, laid out on a root of w x h at 24 bits. Its configuration and log
// go into `dir`. Only root can start Xorg so.
std::unique_ptr<XServer> xorg_with_monitors(const std::string &dir, const std::vector<Rect> &monitors, int w, int h);

// Reads full-width rows of the root as fast as the server answers, for at
// most `seconds`, until only the strip differs from `desktop`: the fade has
// begun. Pixels no monitor shows are left out.
Sampling sample_rows_until_fade(XServer &x, const Picture &desktop, const std::vector<int> &rows, const Rect &strip,
                                const std::vector<Rect> &monitors, double seconds);

Rect palette_strip(int screen_w, int screen_h);
// The strip centred on one monitor of the screen, as havoc centres it there.
Rect palette_strip_on(const Rect &monitor);
// Where the palette and the tools draw the library's pointer when it is at
// (x, y), with room to spare; and where it is drawn now, the X pointer being
// the library's.
Rect arrow_box(int x, int y);
Rect pointer_box(XServer &x);
// The palette as it must look once faded in over `desktop` on a screen of
// `depth` bits, centred on `monitor` (on the whole screen when it is empty):
// the data file's own icons and caps drawn masked over the picture by the
// library at the screen's depth, the way havoc draws them, in the colours a
// screenshot reads.
Picture expected_palette(const Picture &desktop, const std::string &data_file, int depth = 24,
                         const Rect &monitor = {0, 0, 0, 0});
// The square of side 2r + 1 centred on (x, y).
Rect around(int x, int y, int r);
// Pixels of `area` that differ between two pictures of one size by more than
// `tolerance` in some channel, leaving out `except`.
int differing(const Picture &a, const Picture &b, Rect area, Rect except = {0, 0, 0, 0}, int tolerance = 0);


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

// What is wrong with the shared memory of a running havoc's frame: nothing
// when it exists, only its own user can read it (as root: `nobody` cannot
// attach it), and it is marked to go once havoc and the server let go.
std::vector<std::string> frame_memory_faults(const Havoc &havoc);
// True while a segment this run of havoc created is still there (what
// `ipcs -m -p` shows), as after an abort used to leave it.
bool shared_memory_left(const Havoc &havoc);
