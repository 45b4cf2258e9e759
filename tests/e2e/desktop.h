// End-to-end support, the X desktop and its input: a private X server with a
// known picture on its root window, screenshots and how two of them differ,
// real input through XTEST, and what the server says of windows, grabs and
// the pointer.
#pragma once

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

struct Rect {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};
// The square of side 2r + 1 centred on (x, y).
Rect around(int x, int y, int r);

// Pixels of `area` that differ between two pictures of one size by more than
// `tolerance` in some channel, leaving out `except`.
int differing(const Picture &a, const Picture &b, Rect area, Rect except = {0, 0, 0, 0}, int tolerance = 0);
int differing(const Picture &a, const Picture &b, Rect area, const std::vector<Rect> &except, int tolerance = 0);

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

// Xorg with the dummy video driver, a graphics card with several outputs and
// the VidMode extension: `monitors`, left to right and the first one the
// primary, laid out on a root of w x h at 24 bits. Its configuration and log
// go into `dir`. Only root can start Xorg so.
std::unique_ptr<XServer> xorg_with_monitors(const std::string &dir, const std::vector<Rect> &monitors, int w, int h);

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

// Where the palette and the tools draw the library's pointer when it is at
// (x, y), with room to spare; and where it is drawn now, the X pointer being
// the library's.
Rect arrow_box(int x, int y);
Rect pointer_box(XServer &x);

// The top-level windows that are mapped and viewable.
struct WindowSeen {
    int w, h;
    std::string name;
};
std::vector<WindowSeen> viewable_windows(XServer &x);
// True when some top-level window of the screen's size is mapped.
bool fullscreen_window_mapped(XServer &x);
// True when the test's own connection can grab keyboard and pointer
// (releasing them again at once).
bool can_grab_input(XServer &x);
