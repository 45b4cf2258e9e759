// GNOME: the screen through GNOME Shell's screenshot interface, which
// answers the names of the desktop's own screenshot tools (this program
// takes one of them on its private bus), and input through a session of
// Mutter's remote desktop interface: a virtual keyboard and pointer. X
// windows and the keyboard as XWayland sees them.
#include "wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

static const unsigned BUTTON_LEFT = 0x110;  // the kernel's codes for the left button
static const unsigned KEY_ESCAPE = 1, KEY_LEFT_SHIFT = 42;  // and for keys
static const int POINTER_TRIES = 20;
static const double RELEASE_SECONDS = 10;
// A shell drawing in software on a busy machine may take its time.
static const int CALL_TIMEOUT_MS = 60000;

static GDBusConnection *session_bus()
{
    static GDBusConnection *bus = [] {
        GDBusConnection *connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        // The shell takes pictures only for the desktop's own tools.
        const unsigned DO_NOT_QUEUE = 4;
        GVariant *reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.gnome.Screenshot", DO_NOT_QUEUE), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (reply)
            g_variant_unref(reply);
        return connection;
    }();
    return bus;
}

// A method call whose answer is not needed; false, with a failure, when it failed.
static bool call(const char *name, const char *path, const char *interface, const char *method, GVariant *args,
                 GVariant **result = nullptr)
{
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_sync(session_bus(), name, path, interface, method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, &error);
    if (!reply) {
        ADD_FAILURE() << method << ": " << error->message;
        g_error_free(error);
        return false;
    }
    if (result)
        *result = reply;
    else
        g_variant_unref(reply);
    return true;
}

static Picture capture(Rect area)
{
    std::string file = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/capture.png";
    const char *name = "org.gnome.Shell.Screenshot", *path = "/org/gnome/Shell/Screenshot";
    bool taken = area.w > 0 ? call(name, path, name, "ScreenshotArea",
                                   g_variant_new("(iiiibs)", area.x, area.y, area.w, area.h, FALSE, file.c_str()))
                            : call(name, path, name, "Screenshot", g_variant_new("(bbs)", FALSE, FALSE, file.c_str()));
    if (!taken)
        return Picture();
    Picture p = read_png(file);
    std::remove(file.c_str());
    return p;
}

// The remote desktop session, started at the first input. Its first key is
// lost, so it begins with a key nothing listens to.
static std::string input_session()
{
    static std::string path = [] {
        GVariant *reply = nullptr;
        if (!call("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                  "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr, &reply))
            return std::string();
        const char *session = nullptr;
        g_variant_get(reply, "(&o)", &session);
        std::string s = session;
        g_variant_unref(reply);
        call("org.gnome.Mutter.RemoteDesktop", s.c_str(), "org.gnome.Mutter.RemoteDesktop.Session", "Start",
             nullptr);
        for (bool down : {true, false})
            call("org.gnome.Mutter.RemoteDesktop", s.c_str(), "org.gnome.Mutter.RemoteDesktop.Session",
                 "NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_LEFT_SHIFT, down));
        return s;
    }();
    return path;
}

static void input(const char *method, GVariant *args)
{
    call("org.gnome.Mutter.RemoteDesktop", input_session().c_str(), "org.gnome.Mutter.RemoteDesktop.Session",
         method, args);
}

// A virtual pointer moves only by steps, as a mouse does: steered from where
// XWayland sees it until it is there.
static void steer_pointer(XServer &x, int px, int py)
{
    input_session();
    int at_x = -1, at_y = -1;
    for (int tries = 0; tries < POINTER_TRIES; ++tries) {
        pointer_position(x, &at_x, &at_y);
        if (at_x == px && at_y == py)
            break;
        int from_x = at_x, from_y = at_y;
        input("NotifyPointerMotionRelative", g_variant_new("(dd)", (double)(px - at_x), (double)(py - at_y)));
        wait_until([&] {
            pointer_position(x, &at_x, &at_y);
            return at_x != from_x || at_y != from_y;
        }, 1);
    }
    EXPECT_EQ(at_x, px);
    EXPECT_EQ(at_y, py);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

static void press_left(XServer &, bool down)
{
    input("NotifyPointerButton", g_variant_new("(ib)", (int)BUTTON_LEFT, down));
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

// Whether XWayland has the key down: until the shell hands it the release,
// and all the while XWayland repeats it.
static bool x_key_down(KeySym keysym)
{
    static Display *display = XOpenDisplay(nullptr);
    char keys[32];
    XQueryKeymap(display, keys);
    KeyCode code = XKeysymToKeycode(display, keysym);
    return keys[code / 8] & (1 << (code % 8));
}

// Keys by the kernel's code, as a keyboard sends them. The shell passes a
// key on to XWayland only between its own frames, and a picture of the
// screen asked of it right after the release can hold the release back for
// more than a second, the key repeating meanwhile as if held: long enough
// for the palette, once faded in, to take Escape as still down and quit.
// Nothing more is asked of the shell until XWayland has the key up. A
// press and a release the shell hands over together reach havoc in one
// batch, which its loops read as no press at all: the key is let go only
// once XWayland has it down.
static bool type_key_until(const std::string &key, const std::function<bool()> &done)
{
    EXPECT_EQ(key, "Escape") << "only Escape is mapped to its kernel code here";
    input_session();
    return press_key_until([&](bool down) {
        input("NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_ESCAPE, down));
        EXPECT_TRUE(wait_until([&] { return x_key_down(XK_Escape) == down; }, RELEASE_SECONDS))
            << "XWayland never had Escape " << (down ? "down" : "let go");
    }, done);
}

static bool native_window_has_keyboard() { return !x_havoc_has_keyboard(); }
static bool scale_output(int) { return false; }

const WaylandDesktop GNOME = [] {
    WaylandDesktop d = {"gnome", capture, native_window_has_keyboard, x_havoc_full_screen_with_keyboard,
                        x_any_window, x_window_list, steer_pointer, press_left, type_key_until,
                        scale_output, true};
    // The date and time in the middle of the top bar, and the icon beside them.
    d.clock = {800, 0, 320, 32};
    return d;
}();
