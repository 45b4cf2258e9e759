// The desktop photograph, and the process around it on a Unix desktop. This
// file and its Wayland half are the only ones that talk to the desktop's
// platform and the operating system; everything else talks only to the game
// library.
#include "shell/snapshot.h"

#include "shell/fatal.h"
#include "shell/scene.h"
#include "shell/snapshot_wayland.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <alsa/asoundlib.h>
#include <xalleg.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <unistd.h>
#include <vector>

// The picture between the two halves: either 0xRRGGBB pixels, or colour
// indices with the colormap they index (8-bit PseudoColor desktops).
static int kept_w, kept_h;
static std::vector<uint32_t> kept_rgb;
static std::vector<uint8_t> kept_index;
static PALETTE kept_palette;
static bool kept_is_indexed;
// Taken through the desktop portal: the X root showed nothing.
static bool kept_from_portal;

static const int COLORMAP_SIZE = 256;

// Xlib's default error handler ends the process; on a server that refuses
// to hand out the root window (a rootless XWayland, say) we want a message.
static int x_error;
static int remember_x_error(Display *, XErrorEvent *event)
{
    x_error = event->error_code;
    return 0;
}

// One channel of a TrueColor pixel, widened to 0..255 whatever its bits.
static int channel(unsigned long pixel, unsigned long mask)
{
    if (!mask)
        return 0;
    int shift = __builtin_ctzl(mask);
    unsigned long max = mask >> shift;
    return (int)(((pixel & mask) >> shift) * 255 / max);
}

static void keep_true_color(XImage *image, const Visual *visual)
{
    kept_rgb.resize((size_t)kept_w * kept_h);
    for (int y = 0; y < kept_h; ++y)
        for (int x = 0; x < kept_w; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            kept_rgb[(size_t)y * kept_w + x] = (uint32_t)(channel(pixel, visual->red_mask) << 16
                                                          | channel(pixel, visual->green_mask) << 8
                                                          | channel(pixel, visual->blue_mask));
        }
}

static void keep_indexed(Display *display, XImage *image, Colormap colormap, int entries)
{
    std::vector<XColor> colors(COLORMAP_SIZE);
    for (int i = 0; i < COLORMAP_SIZE; ++i)
        colors[i].pixel = (unsigned long)(i < entries ? i : 0);
    XQueryColors(display, colormap, colors.data(), COLORMAP_SIZE);
    for (int i = 0; i < COLORMAP_SIZE; ++i) {
        // The library's palette has 6 bits a channel.
        kept_palette[i].r = (unsigned char)(colors[i].red >> 10);
        kept_palette[i].g = (unsigned char)(colors[i].green >> 10);
        kept_palette[i].b = (unsigned char)(colors[i].blue >> 10);
    }
    kept_index.resize((size_t)kept_w * kept_h);
    for (int y = 0; y < kept_h; ++y)
        for (int x = 0; x < kept_w; ++x)
            kept_index[(size_t)y * kept_w + x] = (uint8_t)XGetPixel(image, x, y);
    kept_is_indexed = true;
}

void capture_desktop()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        const char *name = std::getenv("DISPLAY");
        fatal("cannot open display \"%s\": havoc needs a running X desktop", name ? name : "");
    }
    XSetErrorHandler(remember_x_error);
    Window root = DefaultRootWindow(display);
    XWindowAttributes root_attributes;
    XGetWindowAttributes(display, root, &root_attributes);
    kept_w = root_attributes.width;
    kept_h = root_attributes.height;
    XImage *image = XGetImage(display, root, 0, 0, kept_w, kept_h, AllPlanes, ZPixmap);
    XSync(display, False);
    // A rootless XWayland hands out no picture: the compositor has it.
    if ((!image || x_error) && wayland_session()) {
        if (image)
            XDestroyImage(image);
        XCloseDisplay(display);
        take_portal_screenshot(kept_w, kept_h, &kept_rgb);
        kept_from_portal = true;
        return;
    }
    if (!image || x_error) {
        char reason[128] = "no picture came back";
        if (x_error)
            XGetErrorText(display, x_error, reason, sizeof reason);
        XCloseDisplay(display);
        fatal("cannot read the desktop's picture from the X server (%s)", reason);
    }
    const Visual *visual = root_attributes.visual;
    if (visual->c_class == TrueColor || visual->c_class == DirectColor)
        keep_true_color(image, visual);
    else
        keep_indexed(display, image, root_attributes.colormap, visual->map_entries);
    XDestroyImage(image);
    XCloseDisplay(display);
}

// An 8-bit screen takes the desktop's own colour indices and colormap, so
// it looks exactly as before; every other screen gets the colours converted
// by the library's blit from a 32-bit copy.
void finish_desktop_capture()
{
    if (kept_from_portal)
        ask_compositor_for_full_screen();
    int w = kept_w < desktop_bmp->w ? kept_w : desktop_bmp->w;
    int h = kept_h < desktop_bmp->h ? kept_h : desktop_bmp->h;
    clear_bitmap(desktop_bmp);
    if (kept_is_indexed && bitmap_color_depth(desktop_bmp) == 8) {
        set_palette(kept_palette);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                desktop_bmp->line[y][x] = kept_index[(size_t)y * kept_w + x];
    } else {
        if (kept_is_indexed)
            for (uint8_t index : kept_index)
                kept_rgb.push_back((uint32_t)(kept_palette[index].r * 255 / 63 << 16
                                              | kept_palette[index].g * 255 / 63 << 8
                                              | kept_palette[index].b * 255 / 63));
        BITMAP *full_color = create_bitmap_ex(32, w, h);
        if (!full_color)
            fatal("not enough memory for the desktop's picture (%dx%d)", w, h);
        for (int y = 0; y < h; ++y) {
            uint32_t *row = (uint32_t *)full_color->line[y];
            for (int x = 0; x < w; ++x) {
                uint32_t rgb = kept_rgb[(size_t)y * kept_w + x];
                row[x] = (uint32_t)makecol32(rgb >> 16 & 0xff, rgb >> 8 & 0xff, rgb & 0xff);
            }
        }
        blit(full_color, desktop_bmp, 0, 0, 0, 0, w, h);
        destroy_bitmap(full_color);
    }
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    std::vector<uint32_t>().swap(kept_rgb);
    std::vector<uint8_t>().swap(kept_index);
}

int full_screen_driver()
{
    if (!kept_from_portal)
        return GFX_AUTODETECT_FULLSCREEN;
    mark_window_full_screen();
    return GFX_XWINDOWS;
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
    allegro_exit();
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
