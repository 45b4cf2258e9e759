// KDE Plasma: the screen through KWin's screenshot interface and input
// through its fake input protocol, both granted to this program by the
// desktop entry with_kde.sh writes for it. X windows and the keyboard as
// XWayland sees them.
#include "wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <wayland-client.h>

#include <cstring>
#include <thread>
#include <unistd.h>

static const unsigned BUTTON_LEFT = 0x110;  // the kernel's codes for the left button
static const unsigned KEY_ESCAPE = 1;       // and for the keys the scenarios type
static const unsigned PRESSED = 1, RELEASED = 0;
static const int POINTER_TRIES = 20;
static const unsigned FAKE_INPUT_VERSION = 4;  // with keys and absolute motion
static const auto CAPTURE_GAP = std::chrono::milliseconds(400);

// The protocol's requests, in its order; the tables wayland-scanner would
// make from its description.
enum FakeInputRequest { AUTHENTICATE, POINTER_MOTION, BUTTON, AXIS, POINTER_MOTION_ABSOLUTE = 9, KEYBOARD_KEY };
static const wl_interface *no_types[4] = {};
static const wl_message fake_input_requests[] = {
    {"authenticate", "ss", no_types},     {"pointer_motion", "ff", no_types},
    {"button", "uu", no_types},           {"axis", "uf", no_types},
    {"touch_down", "2uff", no_types},     {"touch_motion", "2uff", no_types},
    {"touch_up", "2u", no_types},         {"touch_cancel", "2", no_types},
    {"touch_frame", "2", no_types},       {"pointer_motion_absolute", "3ff", no_types},
    {"keyboard_key", "4uu", no_types},
};
static const wl_interface fake_input_interface = {
    "org_kde_kwin_fake_input", (int)FAKE_INPUT_VERSION, 11, fake_input_requests, 0, nullptr};

struct FakeInput {
    wl_display *display = nullptr;
    wl_proxy *input = nullptr;
};

static void global_added(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, fake_input_interface.name) == 0)
        static_cast<FakeInput *>(data)->input =
            (wl_proxy *)wl_registry_bind(registry, name, &fake_input_interface, FAKE_INPUT_VERSION);
}
static void global_removed(void *, wl_registry *, uint32_t) {}
static const wl_registry_listener registry_listener = {global_added, global_removed};

static FakeInput &fake_input()
{
    static FakeInput f = [] {
        FakeInput f;
        f.display = wl_display_connect(nullptr);
        if (!f.display)
            return f;
        wl_registry *registry = wl_display_get_registry(f.display);
        wl_registry_add_listener(registry, &registry_listener, &f);
        wl_display_roundtrip(f.display);
        if (f.input) {
            wl_proxy_marshal_flags(f.input, AUTHENTICATE, nullptr, FAKE_INPUT_VERSION, 0, "havoc's tests",
                                   "input as a person gives it");
            wl_display_roundtrip(f.display);
        }
        return f;
    }();
    EXPECT_TRUE(f.input) << "KWin offers no fake input to this program: is its desktop entry there?";
    return f;
}

template <typename... Args> static void send(FakeInputRequest request, Args... args)
{
    FakeInput &f = fake_input();
    if (!f.input)
        return;
    wl_proxy_marshal_flags(f.input, request, nullptr, FAKE_INPUT_VERSION, 0, args...);
    wl_display_roundtrip(f.display);
}

// Absolute first; where XWayland does not follow (havoc's pointer, once a
// tool is taken, is held in its window and moves by relative motion only)
// steered by steps from where XWayland sees it, as a mouse moves.
static void steer_pointer(XServer &x, int px, int py)
{
    send(POINTER_MOTION_ABSOLUTE, wl_fixed_from_int(px), wl_fixed_from_int(py));
    int at_x = -1, at_y = -1;
    for (int tries = 0; tries < POINTER_TRIES; ++tries) {
        if (wait_until([&] {
                pointer_position(x, &at_x, &at_y);
                return at_x == px && at_y == py;
            }, 0.5))
            break;
        send(POINTER_MOTION, wl_fixed_from_int(px - at_x), wl_fixed_from_int(py - at_y));
    }
    EXPECT_EQ(at_x, px);
    EXPECT_EQ(at_y, py);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

static void place_pointer(int px, int py)
{
    send(POINTER_MOTION_ABSOLUTE, wl_fixed_from_int(px), wl_fixed_from_int(py));
}

static void press_left(XServer &, bool down)
{
    send(BUTTON, BUTTON_LEFT, down ? PRESSED : RELEASED);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

static bool type_key_until(const std::string &key, const std::function<bool()> &done)
{
    EXPECT_EQ(key, "Escape") << "only Escape is mapped to its kernel code here";
    return press_key_until([&](bool down) { send(KEYBOARD_KEY, KEY_ESCAPE, down ? PRESSED : RELEASED); }, done);
}

// KWin writes the picture's raw pixels into a pipe and says their layout.
// Pictures asked for back to back keep KWin so busy that the portal's own
// picture, asked for meanwhile, fails every time: a pause between two
// leaves it room, as a person's desktop does.
static Picture capture(Rect area)
{
    static auto last = std::chrono::steady_clock::now() - CAPTURE_GAP;
    std::this_thread::sleep_until(last + CAPTURE_GAP);
    last = std::chrono::steady_clock::now();
    Picture p;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return p;
    GUnixFDList *fds = g_unix_fd_list_new_from_array(&pipe_fds[1], 1);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
    g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
    int w = area.w > 0 ? area.w : x_screen_width(), h = area.w > 0 ? area.h : x_screen_height();
    GVariant *args = g_variant_new("(iiuua{sv}h)", area.x, area.y, (unsigned)w, (unsigned)h, &options, 0);
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea", args,
        G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, -1, fds, nullptr, nullptr, &error);
    g_object_unref(fds);
    if (!reply) {
        ADD_FAILURE() << "KWin gave no picture: " << error->message;
        g_error_free(error);
        close(pipe_fds[0]);
        g_object_unref(bus);
        return p;
    }
    GVariant *results = g_variant_get_child_value(reply, 0);
    unsigned width = 0, height = 0, stride = 0;
    g_variant_lookup(results, "width", "u", &width);
    g_variant_lookup(results, "height", "u", &height);
    g_variant_lookup(results, "stride", "u", &stride);
    g_variant_unref(results);
    g_variant_unref(reply);
    g_object_unref(bus);
    // 32 bits a pixel, blue first in memory.
    std::vector<unsigned char> bytes((size_t)stride * height);
    size_t got = 0;
    for (ssize_t n; got < bytes.size() && (n = read(pipe_fds[0], bytes.data() + got, bytes.size() - got)) > 0;)
        got += (size_t)n;
    close(pipe_fds[0]);
    EXPECT_EQ(got, bytes.size()) << "KWin's picture was cut short";
    p.w = (int)width;
    p.h = (int)height;
    p.rgb.reserve((size_t)p.w * p.h);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            const unsigned char *px = bytes.data() + (size_t)y * stride + x * 4;
            p.rgb.push_back(px[2] << 16 | px[1] << 8 | px[0]);
        }
    return p;
}

static bool native_window_has_keyboard() { return !x_havoc_has_keyboard(); }
static bool scale_output(int) { return false; }

// KWin's arrow, as its portal draws it: larger than X's, with an outline
// and a shadow.
static const Rect KWIN_ARROW = {-8, -6, 32, 44};

const WaylandDesktop KDE = {"kde", capture, native_window_has_keyboard, x_havoc_full_screen_with_keyboard,
                            x_any_window, x_window_list, steer_pointer, press_left, type_key_until, scale_output, false,
                            KWIN_ARROW, place_pointer, true};
