// The X11 platform: the desktop photograph, the window that shows it, the
// keyboard and pointer grabs, the monitors, the pointer, the frame's memory
// shared with the server, and what to do when the server errs or goes away.
// In a Wayland session the same window is shown by the compositor through
// XWayland, with the portal's picture.
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
#include "platform/platform.h"

#include "platform/portal.h"
#include "platform/wlroots.h"
#include "platform/x11.h"
#include "shell/fatal.h"
#include "shell/scene.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
// The library's own X resources: its display connection and its windows.
#include <xalleg.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <poll.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The picture between the two halves of the photograph: on an X desktop
// held by the server on a connection of our own, with what it takes to read
// its pixels back; in a Wayland session, 0xRRGGBB pixels from the portal,
// and from the library's start a copy held by the server on the library's
// connection, for the window's background.
struct KeptPicture {
    Display *display;            // our own connection; none once the picture is read
    Pixmap pixmap;
    int w, h;
    Visual *visual;
    bool indexed;                // an 8-bit desktop: pixels index a colormap
    std::vector<XColor> colors;  // that colormap, for indexed pictures
    std::vector<uint32_t> rgb;   // the portal's pixels
    bool from_portal;            // the X root showed nothing
};
static KeptPicture kept;

// Where the user left the pointer (desktop_pointer_x and _y), which havoc
// will move and must put back, and a connection of our own kept open to put
// it there: the normal way out warps it through Xlib; a crash, where Xlib
// cannot be trusted, writes the same request, encoded in advance, straight
// to that connection's socket. In a Wayland session havoc cannot move it,
// and keeps no such connection.
struct PointerHome {
    Display *display;  // none until the pointer is noted
    xWarpPointerReq request;
};
static PointerHome pointer_home;

static const int COLORMAP_SIZE = 256;
static const int RANDR_MONITORS_MINOR = 5;   // RandR 1.5 lists monitors
static const char WINDOW_NAME[] = "havoc";
static const char WINDOW_CLASS[] = "Havoc";
// Another program may hold the keyboard for a moment, as a launcher does
// while the key that started havoc is still down.
static const int GRAB_PATIENCE_MS = 1000;
static const int GRAB_RETRY_MS = 20;
static const long NANOSECONDS_PER_MS = 1000000;
static const int ROUND_TRIP_PATIENCE_MS = 1000;
static const mode_t OWNER_ONLY = S_IRUSR | S_IWUSR;
static const mode_t ALL_PERMISSIONS = S_IRWXU | S_IRWXG | S_IRWXO;

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
}

// The connection and the encoded request that put the pointer back.
static void keep_pointer_home(Window root)
{
    pointer_home.display = XOpenDisplay(nullptr);
    if (!pointer_home.display)
        return;
    // The connection speaks this machine's byte order, so the request is
    // laid out as the structure is.
    xWarpPointerReq &warp = pointer_home.request;
    warp.reqType = X_WarpPointer;
    warp.length = sz_xWarpPointerReq / 4;
    warp.srcWid = None;
    warp.dstWid = (CARD32)root;
    warp.srcX = warp.srcY = 0;
    warp.srcWidth = warp.srcHeight = 0;
    warp.dstX = (INT16)desktop_pointer_x;
    warp.dstY = (INT16)desktop_pointer_y;
}

// Set by a crash's signal handler, which cuts the library's connection: the
// library's thread then waits for the end the handler is bringing.
static std::atomic<bool> crashing{false};

// With the server gone there is no display left to restore, and the
// library's exit path could wait for ever on a lock the broken connection
// holds: say so and go at once.

static int lost_x_server(Display *)
{
    while (crashing.load())
        pause();
    static const char message[] = "havoc: lost the connection to the X server\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(EXIT_FAILURE);
}

void capture_desktop()
{
    // For every connection, ours and the library's.
    XSetIOErrorHandler(lost_x_server);
    kept.display = XOpenDisplay(nullptr);
    if (!kept.display) {
        const char *name = std::getenv("DISPLAY");
        fatal("cannot open display \"%s\": havoc needs a running X desktop", name ? name : "");
    }
    Display *display = kept.display;
    XSetErrorHandler(remember_x_error);
    Window root = DefaultRootWindow(display);
    XWindowAttributes root_attributes;
    XGetWindowAttributes(display, root, &root_attributes);
    kept.w = root_attributes.width;
    kept.h = root_attributes.height;
    kept.visual = root_attributes.visual;

    // The photograph: a plain copy of what the screen shows, windows
    // included, made inside the server.
    kept.pixmap = XCreatePixmap(display, root, kept.w, kept.h, root_attributes.depth);
    XGCValues copy_all;
    copy_all.subwindow_mode = IncludeInferiors;
    GC gc = XCreateGC(display, kept.pixmap, GCSubwindowMode, &copy_all);
    XCopyArea(display, root, kept.pixmap, gc, 0, 0, kept.w, kept.h, 0, 0);
    XFreeGC(display, gc);
    char reason[128];
    if (!root_readable(display, root, reason, sizeof reason)) {
        // XWayland knows the monitors, and where the pointer is as far as
        // the compositor has told it.
        note_monitors(display, root);
        note_pointer(display, root);
        XCloseDisplay(display);
        kept.display = nullptr;
        // A rootless XWayland hands out no picture: the compositor has it.
        // A compositor that copies its screen to clients hands it over
        // through a pipe; others through the portal, by a file.
        if (wayland_session()) {
            if (compositor_copies_screen())
                take_compositor_screenshot(kept.w, kept.h, &kept.rgb);
            else
                take_portal_screenshot(kept.w, kept.h, &kept.rgb);
            kept.from_portal = true;
            return;
        }
        fatal("cannot read the desktop's picture from the X server (%s)", reason);
    }

    kept.indexed = kept.visual->c_class != TrueColor && kept.visual->c_class != DirectColor;
    if (kept.indexed) {
        kept.colors.resize(COLORMAP_SIZE);
        for (int i = 0; i < COLORMAP_SIZE; ++i) {
            kept.colors[i].pixel = (unsigned long)(i < kept.visual->map_entries ? i : 0);
            kept.colors[i].flags = DoRed | DoGreen | DoBlue;
        }
        XQueryColors(display, root_attributes.colormap, kept.colors.data(), COLORMAP_SIZE);
    }
    note_monitors(display, root);
    note_pointer(display, root);
    keep_pointer_home(root);
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
    XImage *image = XCreateImage(display, visual, _xwin.window_depth, ZPixmap, 0, nullptr, kept.w, kept.h,
                                 BitmapPad(display), 0);
    if (image)
        image->data = (char *)std::malloc((size_t)image->bytes_per_line * kept.h);
    if (!image || !image->data)
        fatal("not enough memory for the desktop's picture (%dx%d)", kept.w, kept.h);
    Channel red = channel_of(visual->red_mask), green = channel_of(visual->green_mask),
            blue = channel_of(visual->blue_mask);
    for (int y = 0; y < kept.h; ++y)
        for (int x = 0; x < kept.w; ++x) {
            uint32_t c = kept.rgb[(size_t)y * kept.w + x];
            XPutPixel(image, x, y,
                      narrow(c >> 16 & 0xff, red) | narrow(c >> 8 & 0xff, green) | narrow(c & 0xff, blue));
        }

    XLOCK();
    Pixmap picture = XCreatePixmap(display, _xwin.wm_window, kept.w, kept.h, _xwin.window_depth);
    GC gc = XCreateGC(display, picture, 0, nullptr);
    XPutImage(display, picture, gc, image, 0, 0, 0, 0, kept.w, kept.h);
    XFreeGC(display, gc);
    XUNLOCK();
    XDestroyImage(image);
    return picture;
}

// In a Wayland session the window must be one the compositor manages and
// makes full screen: a window that asks for full screen before it is first
// mapped is shown full screen and focused at once, while the library's own
// full-screen window is override-redirect, which a compositor never gives
// the keyboard to.
static void mark_window_full_screen()
{
    XLOCK();
    Atom state = XInternAtom(_xwin.display, "_NET_WM_STATE", False);
    Atom full_screen = XInternAtom(_xwin.display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(_xwin.display, _xwin.wm_window, state, XA_ATOM, 32, PropModeReplace,
                    (unsigned char *)&full_screen, 1);
    XUNLOCK();
}

// Once the window is mapped: asks the compositor to keep it full screen, the
// way a mapped window asks. A compositor that was still busy when the window
// was marked has overwritten the mark when it mapped the window.
static void ask_compositor_for_full_screen()
{
    const long ADD = 1, FROM_AN_APPLICATION = 1;
    XLOCK();
    XEvent request = {};
    request.xclient.type = ClientMessage;
    request.xclient.window = _xwin.wm_window;
    request.xclient.message_type = XInternAtom(_xwin.display, "_NET_WM_STATE", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = ADD;
    request.xclient.data.l[1] = (long)XInternAtom(_xwin.display, "_NET_WM_STATE_FULLSCREEN", False);
    request.xclient.data.l[3] = FROM_AN_APPLICATION;
    XSendEvent(_xwin.display, DefaultRootWindow(_xwin.display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
    XFlush(_xwin.display);
    XUNLOCK();
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
    attributes.override_redirect = !kept.from_portal;
    attributes.background_pixmap = kept.pixmap;
    XChangeWindowAttributes(display, _xwin.wm_window, CWOverrideRedirect | CWBackPixmap, &attributes);
    XMoveWindow(display, _xwin.wm_window, 0, 0);
    if (kept.from_portal)
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
    if (kept.indexed)
        XStoreColors(display, _xwin.colormap, kept.colors.data(), COLORMAP_SIZE);
    XUNLOCK();
}

// The root window's size, which every monitor lies within.
void screen_size(int *w, int *h)
{
    if (get_desktop_resolution(w, h) != 0)
        fatal("cannot read the desktop's resolution");
}

// The library's windowed driver on a window dressed as full screen: its
// full-screen driver would map a black window and, on a server with the
// VidMode extension, switch the monitor's mode and shift the picture when
// the desktop spans several monitors.
int dress_screen_window()
{
    if (kept.from_portal)
        kept.pixmap = portal_picture_pixmap();
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

// Tries `grab` for a whole second, as long as another program holds what it
// asks for; gives up early only for a stop signal. The pauses are the
// system's own: the library's rest() waits next to nothing before its timer
// is installed.
template <typename Grab>
static void grab_within_a_second(const char *what, Grab grab)
{
    for (int waited = 0;; waited += GRAB_RETRY_MS) {
        XLOCK();
        int result = grab(_xwin.display);
        XUNLOCK();
        if (result == GrabSuccess || stop_signal.load())
            return;
        if (waited >= GRAB_PATIENCE_MS)
            fatal("another program holds the %s: close it and start havoc again", what);
        struct timespec pause = {0, GRAB_RETRY_MS * NANOSECONDS_PER_MS};
        nanosleep(&pause, nullptr);
    }
}

// The keyboard for havoc alone, as soon as its window covers the screen:
// keys typed meanwhile would go to a window the user cannot see.
static void take_keyboard()
{
    grab_within_a_second("keyboard", [](Display *display) {
        return XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync,
                             CurrentTime);
    });
}

// The pointer kept inside the drawing window, as the library's own
// full-screen mode holds it: the window must be shown for that.
static void take_pointer()
{
    grab_within_a_second("pointer", [](Display *display) {
        return XGrabPointer(display, _xwin.window, False, PointerMotionMask | ButtonPressMask | ButtonReleaseMask,
                            GrabModeAsync, GrabModeAsync, _xwin.window, None, CurrentTime);
    });
}

// Any picture but an 8-bit one on an 8-bit screen goes through a 32-bit
// copy, which the library's blit converts to the screen's depth. rgb(x, y)
// gives the picture's pixels as 0xRRGGBB. A giant screen takes seconds: a
// stop signal ends the work between two rows.
template <typename Picture>
static void convert_to_full_color(int w, int h, Picture rgb)
{
    BITMAP *full_color = create_bitmap_ex(32, w, h);
    if (!full_color)
        fatal("not enough memory for the desktop's picture (%dx%d)", w, h);
    for (int y = 0; y < h; ++y) {
        if (stop_signal.load())
            break;
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
    Channel red = channel_of(kept.visual->red_mask), green = channel_of(kept.visual->green_mask),
            blue = channel_of(kept.visual->blue_mask);
    convert_to_full_color(w, h, [&](int x, int y) {
        unsigned long pixel = XGetPixel(image, x, y);
        if (kept.indexed) {
            const XColor &c = kept.colors[pixel % COLORMAP_SIZE];
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
        palette[i].r = (unsigned char)(kept.colors[i].red >> 10);
        palette[i].g = (unsigned char)(kept.colors[i].green >> 10);
        palette[i].b = (unsigned char)(kept.colors[i].blue >> 10);
    }
    set_palette(palette);
    for (int y = 0; y < h && !stop_signal.load(); ++y)
        for (int x = 0; x < w; ++x)
            desktop_bmp->line[y][x] = (unsigned char)XGetPixel(image, x, y);
}

// From here on havoc draws the window itself: the background would only
// flash the undamaged desktop whenever part of the window is exposed.
static void drop_background(Display *display)
{
    XSetWindowBackgroundPixmap(display, _xwin.wm_window, None);
    XFreePixmap(display, kept.pixmap);
}

void finish_desktop_capture()
{
    int w = kept.w < desktop_bmp->w ? kept.w : desktop_bmp->w;
    int h = kept.h < desktop_bmp->h ? kept.h : desktop_bmp->h;
    // The window has covered the screen since the mode was set.
    if (!kept.from_portal)
        take_keyboard();
    clear_bitmap(desktop_bmp);
    if (kept.from_portal) {
        ask_compositor_for_full_screen();
        convert_to_full_color(w, h, [](int x, int y) { return kept.rgb[(size_t)y * kept.w + x]; });
        std::vector<uint32_t>().swap(kept.rgb);
    } else {
        XImage *image = XGetImage(kept.display, kept.pixmap, 0, 0, w, h, AllPlanes, ZPixmap);
        if (!image)
            fatal("cannot read the desktop's picture back from the X server (%dx%d)", w, h);
        if (kept.indexed && bitmap_color_depth(desktop_bmp) == 8)
            copy_indexed(image, w, h);
        else
            convert_x_picture(image, w, h);
        XDestroyImage(image);
    }
    // Stopped halfway, the picture is never shown.
    if (stop_signal.load())
        return;
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    show_drawing_window();

    // The compositor gives the keyboard to the focused full-screen window;
    // an X grab could not take it from a native one anyway.
    if (kept.from_portal) {
        XLOCK();
        drop_background(_xwin.display);
        XUNLOCK();
        return;
    }
    take_pointer();
    drop_background(kept.display);
    XCloseDisplay(kept.display);
    kept.display = nullptr;
    std::vector<XColor>().swap(kept.colors);
}

// The library's X driver takes its window down as it is, drawing nothing
// more into it.
void hide_screen_window()
{
}

void pointer_start(int *x, int *y)
{
    if (kept.from_portal) {
        *x = desktop_pointer_x;
        *y = desktop_pointer_y;
        return;
    }
    ScreenArea home = monitor_at(desktop_pointer_x, desktop_pointer_y);
    *x = home.x + home.w / 2;
    *y = home.y + home.h / 2;
}

// The library hands X input over on its background thread, in steps of
// 10 ms, and its frames leave Xlib's buffer only when that thread next syncs
// with the server: the hand would reach the screen up to two steps late.
// Here the main thread runs the library's own handler at the start of every
// pass in which the connection holds input, under the library's lock; the
// handler syncs, reads all that came and treats key repeat and its pointer
// as it always does. present_frame sends each frame the moment it is shown.
//
// After position_mouse the library moves its pointer by the hand's motion
// from where it was put, and counts its handler's calls until it brings the
// desktop's pointer along; that count must go at the background thread's
// pace, not once a frame, or the pointer would follow the hand by motion
// for a tenth of the time the library means after every shot of the laser.
void pump_input()
{
    XLOCK();
    Display *display = _xwin.display;
    if (display && XEventsQueued(display, QueuedAfterReading) > 0) {
        int placed_count = _xwin.mouse_warped;
        _xwin_handle_input();
        if (_xwin.mouse_warped)
            _xwin.mouse_warped = placed_count;
    }
    XUNLOCK();
}

void present_frame()
{
    XLOCK();
    if (_xwin.display)
        XFlush(_xwin.display);
    XUNLOCK();
}

void restore_pointer()
{
    Display *display = pointer_home.display;
    if (!display)
        return;
    pointer_home.display = nullptr;
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, desktop_pointer_x, desktop_pointer_y);
    XCloseDisplay(display);
}

// Sends the encoded warp on our own connection and waits for the server to
// have dealt with it, a second at most: a round trip, the first reply among
// whatever events (32 bytes each, as the reply is) come first.
static void warp_and_wait(int fd)
{
    xReq round_trip = {};
    round_trip.reqType = X_GetInputFocus;
    round_trip.length = sz_xReq / 4;
    if (write(fd, &pointer_home.request, sizeof pointer_home.request) != sizeof pointer_home.request ||
        write(fd, &round_trip, sizeof round_trip) != sizeof round_trip)
        return;
    const unsigned char REPLY = X_Reply;
    for (;;) {
        unsigned char unit[sz_xGetInputFocusReply];
        size_t got = 0;
        while (got < sizeof unit) {
            // Xlib keeps its sockets non-blocking.
            struct pollfd readable = {fd, POLLIN, 0};
            if (poll(&readable, 1, ROUND_TRIP_PATIENCE_MS) <= 0)
                return;
            ssize_t n = read(fd, unit + got, sizeof unit - got);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return;
            got += (size_t)n;
        }
        if (unit[0] == REPLY)
            return;
    }
}

// Nothing here may allocate or take a lock: plain system calls on sockets.
// The library's thread may still be bringing the X pointer to havoc's own
// at any moment, so its connection is cut first; a warp it sent just before
// may still be on its way, so ours goes twice, each time until the server
// has dealt with it.
void restore_pointer_from_crash()
{
    if (!pointer_home.display)
        return;
    crashing.store(true);
    if (_xwin.display)
        shutdown(ConnectionNumber(_xwin.display), SHUT_RDWR);
    int fd = ConnectionNumber(pointer_home.display);
    warp_and_wait(fd);
    warp_and_wait(fd);
}

// The last private segment this process made, until it is first attached.
static std::atomic<int> new_private_segment{-1};

// The library's X driver creates the frame's segment with
// shmget(IPC_PRIVATE, size, IPC_CREAT | 0777): readable and writable by
// every local user, who keeps whatever mapping they make before havoc could
// narrow it. This definition stands before the C library's, for the game
// library too, so every private segment of this process is its user's alone
// from the moment it exists; one made under a key is shared on purpose and
// keeps the mode it asks for.
extern "C" int shmget(key_t key, size_t size, int flags) noexcept
{
    using Shmget = int (*)(key_t, size_t, int);
    static Shmget system_shmget = (Shmget)dlsym(RTLD_NEXT, "shmget");
    if (key == IPC_PRIVATE)
        flags = (flags & ~ALL_PERMISSIONS) | (flags & OWNER_ONLY);
    int id = system_shmget(key, size, flags);
    if (key == IPC_PRIVATE)
        new_private_segment.store(id);
    return id;
}

// And a private segment is marked to go the moment this process has
// attached it: Linux lets the server attach a marked segment by its number
// all the same, and removes it once both have let go, so whenever havoc is
// killed, nothing of the frame stays in the system's list.
extern "C" void *shmat(int id, const void *address, int flags) noexcept
{
    using Shmat = void *(*)(int, const void *, int);
    static Shmat system_shmat = (Shmat)dlsym(RTLD_NEXT, "shmat");
    void *at = system_shmat(id, address, flags);
    int fresh = id;
    if (at != (void *)-1 && new_private_segment.compare_exchange_strong(fresh, -1))
        shmctl(id, IPC_RMID, nullptr);
    return at;
}

// The library's X driver shares the frame with the server through a System V
// segment when the server is local, made for this user alone and marked to
// go as soon as havoc attached it (see shmget and shmat above). Should it
// ever come from elsewhere, it is made so here, once the server has
// attached it, before set_gfx_mode returned: Linux keeps an attached,
// removed segment until the last detach, which the kernel does for a
// process however it ends.
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
