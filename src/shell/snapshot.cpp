// The desktop photograph, the full-screen window that shows it, and the
// process around them on a Unix desktop. This file and its Wayland half are
// the only ones that talk to the desktop's platform and the operating
// system; everything else talks only to the game library.
//
// On an X desktop the photograph is a server-side copy of the root window,
// taken before the library starts. It becomes the background of the
// library's window, so the server paints the desktop into the window the
// moment it is mapped. The library's drawing window inside stays unmapped
// meanwhile, so the black screen the library clears while setting the mode
// is never seen. Only then is the picture read back, converted into
// desktop_bmp and drawn, and the drawing window shown: the first frame the
// user sees is the desktop. In a Wayland session the portal's picture is
// put into such a pixmap as soon as the library has its window, and the
// window is shown the same way.
#include "shell/snapshot.h"

#include "shell/fatal.h"
#include "shell/scene.h"
#include "shell/snapshot_wayland.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <alsa/asoundlib.h>
// The library's own X resources: its display connection and its windows.
#include <xalleg.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <unistd.h>
#include <vector>

// The picture between the two halves of the photograph: on an X desktop
// held by the server on a connection of our own, with what it takes to read
// its pixels back; in a Wayland session, 0xRRGGBB pixels from the portal,
// and from the library's start a copy held by the server on the library's
// connection, for the window's background.
static Display *capture_display;
static Pixmap kept_picture;
static int kept_w, kept_h;
static Visual *kept_visual;
static bool kept_is_indexed;            // an 8-bit desktop: pixels index a colormap
static std::vector<XColor> kept_colors; // that colormap, for indexed pictures
static std::vector<uint32_t> kept_rgb;
// Taken through the desktop portal: the X root showed nothing.
static bool kept_from_portal;

static bool pointer_noted;   // desktop_pointer_x and _y hold the user's pointer

static const int COLORMAP_SIZE = 256;
static const int RANDR_MONITORS_MINOR = 5;   // RandR 1.5 lists monitors
static const char WINDOW_NAME[] = "havoc";
static const char WINDOW_CLASS[] = "Havoc";
// Another program may hold the keyboard for a moment, as a launcher does
// while the key that started havoc is still down.
static const int GRAB_TRIES = 50;
static const int GRAB_RETRY_MS = 20;

// Xlib's default error handler ends the process; on a server that refuses
// to hand out the root window (a rootless XWayland, say) we want a message.
static int x_error;
static int remember_x_error(Display *, XErrorEvent *event)
{
    x_error = event->error_code;
    return 0;
}

// Whether the root window's pixels can be read, with the server's reason
// when they cannot. A one pixel read is enough to tell; the copy itself
// reports nothing.
static bool root_readable(Display *display, Window root, char *reason, int size)
{
    XImage *probe = XGetImage(display, root, 0, 0, 1, 1, AllPlanes, ZPixmap);
    XSync(display, False);
    if (probe)
        XDestroyImage(probe);
    if (probe && !x_error)
        return true;
    std::snprintf(reason, size, "no picture came back");
    if (x_error)
        XGetErrorText(display, x_error, reason, size);
    return false;
}

// The monitors from RandR 1.5, else from Xinerama; none where the server
// has neither, and the whole root then counts as one.
static void note_monitors(Display *display, Window root)
{
    int event_base, error_base, major = 0, minor = 0, count = 0;
    if (XRRQueryExtension(display, &event_base, &error_base) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || minor >= RANDR_MONITORS_MINOR)) {
        XRRMonitorInfo *found = XRRGetMonitors(display, root, True, &count);
        for (int i = 0; i < count; ++i)
            monitors.push_back({found[i].x, found[i].y, found[i].width, found[i].height});
        if (found)
            XRRFreeMonitors(found);
    }
    if (monitors.empty() && XineramaIsActive(display)) {
        XineramaScreenInfo *heads = XineramaQueryScreens(display, &count);
        for (int i = 0; i < count; ++i)
            monitors.push_back({heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height});
        if (heads)
            XFree(heads);
    }
}

static void note_pointer(Display *display, Window root)
{
    Window root_back, child;
    int window_x, window_y;
    unsigned int buttons;
    XQueryPointer(display, root, &root_back, &child, &desktop_pointer_x, &desktop_pointer_y, &window_x,
                  &window_y, &buttons);
    pointer_noted = true;
}

void capture_desktop()
{
    capture_display = XOpenDisplay(nullptr);
    if (!capture_display) {
        const char *name = std::getenv("DISPLAY");
        fatal("cannot open display \"%s\": havoc needs a running X desktop", name ? name : "");
    }
    Display *display = capture_display;
    XSetErrorHandler(remember_x_error);
    Window root = DefaultRootWindow(display);
    XWindowAttributes root_attributes;
    XGetWindowAttributes(display, root, &root_attributes);
    kept_w = root_attributes.width;
    kept_h = root_attributes.height;
    kept_visual = root_attributes.visual;

    // The photograph: a plain copy of what the screen shows, windows
    // included, made inside the server.
    kept_picture = XCreatePixmap(display, root, kept_w, kept_h, root_attributes.depth);
    XGCValues copy_all;
    copy_all.subwindow_mode = IncludeInferiors;
    GC gc = XCreateGC(display, kept_picture, GCSubwindowMode, &copy_all);
    XCopyArea(display, root, kept_picture, gc, 0, 0, kept_w, kept_h, 0, 0);
    XFreeGC(display, gc);
    char reason[128];
    if (!root_readable(display, root, reason, sizeof reason)) {
        XCloseDisplay(display);
        capture_display = nullptr;
        // A rootless XWayland hands out no picture: the compositor has it.
        if (wayland_session()) {
            take_portal_screenshot(kept_w, kept_h, &kept_rgb);
            kept_from_portal = true;
            return;
        }
        fatal("cannot read the desktop's picture from the X server (%s)", reason);
    }

    kept_is_indexed = kept_visual->c_class != TrueColor && kept_visual->c_class != DirectColor;
    if (kept_is_indexed) {
        kept_colors.resize(COLORMAP_SIZE);
        for (int i = 0; i < COLORMAP_SIZE; ++i) {
            kept_colors[i].pixel = (unsigned long)(i < kept_visual->map_entries ? i : 0);
            kept_colors[i].flags = DoRed | DoGreen | DoBlue;
        }
        XQueryColors(display, root_attributes.colormap, kept_colors.data(), COLORMAP_SIZE);
    }
    note_monitors(display, root);
    note_pointer(display, root);
    // The picture must exist in the server before the library's connection
    // names it as a background.
    XSync(display, False);
}

// One channel of a TrueColor pixel, widened to 0..255 whatever its bits,
// or narrowed from 0..255 to its bits.
struct Channel {
    unsigned long mask;
    int shift;
    unsigned long max;
};

static Channel channel_of(unsigned long mask)
{
    int shift = mask ? __builtin_ctzl(mask) : 0;
    return {mask, shift, mask ? mask >> shift : 1};
}

static int widen(unsigned long pixel, const Channel &c)
{
    return (int)(((pixel & c.mask) >> c.shift) * 255 / c.max);
}

static unsigned long narrow(uint32_t value, const Channel &c)
{
    return (value * c.max + 127) / 255 << c.shift;
}

// The portal's picture as the server keeps a window's background: a pixmap
// on the library's connection in the window's own pixel format, 16-bit
// visuals included. The library's colour conversion follows its pixel
// format, which matches the screen only once the mode is set; XPutPixel
// lays each pixel out in the server's bits and byte order. The picture is
// built before the library's lock is taken: a fatal error must not hold it
// while the library shuts down.
static Pixmap portal_picture_pixmap()
{
    Display *display = _xwin.display;
    Visual *visual = _xwin.visual;
    XImage *image = XCreateImage(display, visual, _xwin.window_depth, ZPixmap, 0, nullptr, kept_w, kept_h,
                                 BitmapPad(display), 0);
    if (image)
        image->data = (char *)std::malloc((size_t)image->bytes_per_line * kept_h);
    if (!image || !image->data)
        fatal("not enough memory for the desktop's picture (%dx%d)", kept_w, kept_h);
    Channel red = channel_of(visual->red_mask), green = channel_of(visual->green_mask),
            blue = channel_of(visual->blue_mask);
    for (int y = 0; y < kept_h; ++y)
        for (int x = 0; x < kept_w; ++x) {
            uint32_t c = kept_rgb[(size_t)y * kept_w + x];
            XPutPixel(image, x, y,
                      narrow(c >> 16 & 0xff, red) | narrow(c >> 8 & 0xff, green) | narrow(c & 0xff, blue));
        }

    XLOCK();
    Pixmap picture = XCreatePixmap(display, _xwin.wm_window, kept_w, kept_h, _xwin.window_depth);
    GC gc = XCreateGC(display, picture, 0, nullptr);
    XPutImage(display, picture, gc, image, 0, 0, 0, 0, kept_w, kept_h);
    XFreeGC(display, gc);
    XUNLOCK();
    XDestroyImage(image);
    return picture;
}

// The library's window as the user meets it: over the whole desktop, named,
// and with the photograph as its background, so whatever shows it first,
// server or compositor, shows the desktop. On an X desktop it is kept out of
// the window manager's hands like the library's own full-screen window; in a
// Wayland session it stays managed and asks to be full screen, the only way
// the compositor gives it the keyboard. The drawing window inside waits
// unmapped, and takes its parent's background when it is shown.
static void dress_window()
{
    XLOCK();
    Display *display = _xwin.display;
    XSetWindowAttributes attributes;
    attributes.override_redirect = !kept_from_portal;
    attributes.background_pixmap = kept_picture;
    XChangeWindowAttributes(display, _xwin.wm_window, CWOverrideRedirect | CWBackPixmap, &attributes);
    XMoveWindow(display, _xwin.wm_window, 0, 0);
    if (kept_from_portal)
        mark_window_full_screen();
    XSetWindowBackgroundPixmap(display, _xwin.window, ParentRelative);
    XUnmapWindow(display, _xwin.window);

    char name[sizeof WINDOW_NAME], window_class[sizeof WINDOW_CLASS];
    std::memcpy(name, WINDOW_NAME, sizeof name);
    std::memcpy(window_class, WINDOW_CLASS, sizeof window_class);
    XClassHint class_hint = {name, window_class};
    XSetClassHint(display, _xwin.wm_window, &class_hint);
    XStoreName(display, _xwin.wm_window, WINDOW_NAME);

    // On an 8-bit desktop the library's window has a colormap of its own:
    // it gets the desktop's colours before it shows the desktop's pixels.
    if (kept_is_indexed)
        XStoreColors(display, _xwin.colormap, kept_colors.data(), COLORMAP_SIZE);
    XUNLOCK();
}

// The library's windowed driver on a window dressed as full screen: its
// full-screen driver would map a black window and, on a server with the
// VidMode extension, switch the monitor's mode and shift the picture when
// the desktop spans several monitors.
int full_screen_driver()
{
    if (kept_from_portal)
        kept_picture = portal_picture_pixmap();
    dress_window();
    return GFX_XWINDOWS;
}

// The drawing window comes out: the server paints it with the photograph
// and the library redraws the picture it now holds, the same pixels.
static void show_drawing_window()
{
    XLOCK();
    XMapWindow(_xwin.display, _xwin.window);
    XSync(_xwin.display, False);
    XUNLOCK();
}

// The keyboard for havoc alone, and the pointer kept inside its window, as
// the library's own full-screen mode holds them.
static void hold_input()
{
    for (int tries = 0;; ++tries) {
        XLOCK();
        Display *display = _xwin.display;
        int keyboard = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync,
                                     CurrentTime);
        int pointer = XGrabPointer(display, _xwin.window, False,
                                   PointerMotionMask | ButtonPressMask | ButtonReleaseMask, GrabModeAsync,
                                   GrabModeAsync, _xwin.window, None, CurrentTime);
        XUNLOCK();
        if (keyboard == GrabSuccess && pointer == GrabSuccess)
            return;
        if (tries == GRAB_TRIES)
            fatal("another program holds the %s: close it and start havoc again",
                  keyboard != GrabSuccess ? "keyboard" : "pointer");
        rest(GRAB_RETRY_MS);
    }
}

// Any picture but an 8-bit one on an 8-bit screen goes through a 32-bit
// copy, which the library's blit converts to the screen's depth. rgb(x, y)
// gives the picture's pixels as 0xRRGGBB.
template <typename Picture>
static void convert_to_full_color(int w, int h, Picture rgb)
{
    BITMAP *full_color = create_bitmap_ex(32, w, h);
    if (!full_color)
        fatal("not enough memory for the desktop's picture (%dx%d)", w, h);
    for (int y = 0; y < h; ++y) {
        uint32_t *row = (uint32_t *)full_color->line[y];
        for (int x = 0; x < w; ++x) {
            uint32_t c = rgb(x, y);
            row[x] = (uint32_t)makecol32(c >> 16 & 0xff, c >> 8 & 0xff, c & 0xff);
        }
    }
    blit(full_color, desktop_bmp, 0, 0, 0, 0, w, h);
    destroy_bitmap(full_color);
}

// The X server's picture of the desktop as 0xRRGGBB.
static void convert_x_picture(XImage *image, int w, int h)
{
    Channel red = channel_of(kept_visual->red_mask), green = channel_of(kept_visual->green_mask),
            blue = channel_of(kept_visual->blue_mask);
    convert_to_full_color(w, h, [&](int x, int y) {
        unsigned long pixel = XGetPixel(image, x, y);
        if (kept_is_indexed) {
            const XColor &c = kept_colors[pixel % COLORMAP_SIZE];
            return (uint32_t)((c.red >> 8) << 16 | (c.green >> 8) << 8 | c.blue >> 8);
        }
        return (uint32_t)(widen(pixel, red) << 16 | widen(pixel, green) << 8 | widen(pixel, blue));
    });
}

// An 8-bit screen takes the desktop's own colour indices and colours, so it
// looks exactly as before. The library's palette has 6 bits a channel.
static void copy_indexed(XImage *image, int w, int h)
{
    PALETTE palette;
    for (int i = 0; i < COLORMAP_SIZE; ++i) {
        palette[i].r = (unsigned char)(kept_colors[i].red >> 10);
        palette[i].g = (unsigned char)(kept_colors[i].green >> 10);
        palette[i].b = (unsigned char)(kept_colors[i].blue >> 10);
    }
    set_palette(palette);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            desktop_bmp->line[y][x] = (unsigned char)XGetPixel(image, x, y);
}

// From here on havoc draws the window itself: the background would only
// flash the undamaged desktop whenever part of the window is exposed.
static void drop_background(Display *display)
{
    XSetWindowBackgroundPixmap(display, _xwin.wm_window, None);
    XFreePixmap(display, kept_picture);
}

void finish_desktop_capture()
{
    int w = kept_w < desktop_bmp->w ? kept_w : desktop_bmp->w;
    int h = kept_h < desktop_bmp->h ? kept_h : desktop_bmp->h;
    clear_bitmap(desktop_bmp);
    if (kept_from_portal) {
        ask_compositor_for_full_screen();
        convert_to_full_color(w, h, [](int x, int y) { return kept_rgb[(size_t)y * kept_w + x]; });
        std::vector<uint32_t>().swap(kept_rgb);
    } else {
        XImage *image = XGetImage(capture_display, kept_picture, 0, 0, w, h, AllPlanes, ZPixmap);
        if (!image)
            fatal("cannot read the desktop's picture back from the X server (%dx%d)", w, h);
        if (kept_is_indexed && bitmap_color_depth(desktop_bmp) == 8)
            copy_indexed(image, w, h);
        else
            convert_x_picture(image, w, h);
        XDestroyImage(image);
    }
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    show_drawing_window();

    // The compositor gives the keyboard to the focused full-screen window;
    // an X grab could not take it from a native one anyway.
    if (kept_from_portal) {
        XLOCK();
        drop_background(_xwin.display);
        XUNLOCK();
        return;
    }
    hold_input();
    drop_background(capture_display);
    XCloseDisplay(capture_display);
    capture_display = nullptr;
    std::vector<XColor>().swap(kept_colors);
}

void restore_pointer()
{
    if (!pointer_noted)
        return;
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, desktop_pointer_x, desktop_pointer_y);
    XCloseDisplay(display);
}

// The process around the photograph.

static const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
static const int STOP_SIGNAL_COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];
static bool ignored_at_start[STOP_SIGNAL_COUNT];
static const int STANDARD_STREAMS = 3;
static const int EXIT_STATUS_OF_SIGNAL = 128;
static const mode_t OWNER_ONLY = 0600;

// The sound library's own complaints (no card, no mixer) would go to
// stderr; havoc says what matters in its own words.
static void keep_quiet(const char *, int, const char *, int, const char *, ...)
{
}

// With the server gone there is no display left to restore, and the
// library's exit path could wait for ever on a lock the broken connection
// holds: say so and go at once.
static int lost_x_server(Display *)
{
    static const char message[] = "havoc: lost the connection to the X server\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(EXIT_FAILURE);
}

void prepare_process()
{
    for (int fd = 0; fd < STANDARD_STREAMS; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            fatal("cannot open the null device for descriptor %d", fd);
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction now;
        ignored_at_start[i] = sigaction(STOP_SIGNALS[i], nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
    }
    snd_lib_error_set_handler(keep_quiet);
    XSetIOErrorHandler(lost_x_server);
}

// Only a note: everything else waits for the loops to see it.
static void note_stop_signal(int signal_number)
{
    stop_signal.store(signal_number);
}

void catch_stop_signals()
{
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction action = {};
        action.sa_handler = ignored_at_start[i] ? SIG_IGN : note_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(STOP_SIGNALS[i], &action, nullptr);
    }
}

// The library's X driver made the segment readable and writable by every
// local user, and removes it only when it closes normally. The server
// attached it before set_gfx_mode returned, so it can go from the system's
// list now: Linux keeps an attached, removed segment until the last detach,
// which the kernel does for a process however it ends.
void keep_frame_private()
{
    if (!_xwin.use_shm)
        return;
    int id = _xwin.shminfo.shmid;
    struct shmid_ds segment;
    if (shmctl(id, IPC_STAT, &segment) == 0) {
        segment.shm_perm.mode = OWNER_ONLY;
        shmctl(id, IPC_SET, &segment);
    }
    shmctl(id, IPC_RMID, nullptr);
}

void end_by_stop_signal(int signal_number)
{
    // A QUIT would otherwise leave a core file, and the photograph in it, on disk.
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    std::signal(signal_number, SIG_DFL);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    std::raise(signal_number);
    _exit(EXIT_STATUS_OF_SIGNAL + signal_number);
}

// Started from a terminal or a desktop, an X11 program's stderr is read.
void show_fatal_message(const char *)
{
}
