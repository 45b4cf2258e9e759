// What the desktops share: the choice of desktop, a key tried again until
// it takes, pictures read from PNG files, and XWayland's own view of the
// keyboard and of havoc's windows for the compositors that do not say.
#include "wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

static const double STEP_SECONDS = 20, KEY_SECONDS = 5;

bool shell_succeeds(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

const WaylandDesktop &this_desktop()
{
    const char *name = std::getenv("HAVOC_TEST_DESKTOP");
    for (const WaylandDesktop *d : {&SWAY, &GNOME, &KDE})
        if (name && std::strcmp(name, d->name) == 0)
            return *d;
    std::fprintf(stderr, "HAVOC_TEST_DESKTOP should name sway, gnome or kde: run inside with_DESKTOP.sh\n");
    std::exit(2);
}

// A look at the screen shows it as it was at some moment after the look
// began, and on a busy desktop one look may take longer than the whole wait
// (GNOME Shell's picture of a screen that havoc redraws without pause, say):
// the key goes again only once a look begun a full KEY_SECONDS after it has
// failed, or a key that took, its effect still to show, could act twice.
bool press_key_until(const std::function<void(bool down)> &press, const std::function<bool()> &done)
{
    return wait_until([&] {
        press(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        press(false);
        auto pressed = std::chrono::steady_clock::now();
        for (;;) {
            auto began = std::chrono::steady_clock::now();
            if (done())
                return true;
            if (began - pressed > std::chrono::duration<double>(KEY_SECONDS))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }, STEP_SECONDS);
}

// XWayland on a connection of its own.
static Display *xwayland()
{
    static Display *display = XOpenDisplay(nullptr);
    return display;
}

int x_screen_width() { return DisplayWidth(xwayland(), DefaultScreen(xwayland())); }
int x_screen_height() { return DisplayHeight(xwayland(), DefaultScreen(xwayland())); }

static bool is_havoc(Display *display, Window w)
{
    XClassHint hint = {};
    if (!XGetClassHint(display, w, &hint))
        return false;
    bool havoc = hint.res_class && std::strcmp(hint.res_class, "Havoc") == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return havoc;
}

// havoc's window holding the X keyboard focus, or None.
static Window havoc_focused()
{
    Display *display = xwayland();
    Window focus = None;
    int revert;
    XGetInputFocus(display, &focus, &revert);
    for (Window w = focus; w != None && w != PointerRoot;) {
        if (is_havoc(display, w))
            return w;
        Window root, parent, *children = nullptr;
        unsigned count;
        if (!XQueryTree(display, w, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        w = parent == root ? None : parent;
    }
    return None;
}

bool x_havoc_has_keyboard() { return havoc_focused() != None; }

bool x_havoc_full_screen_with_keyboard()
{
    Display *display = xwayland();
    Window w = havoc_focused();
    if (w == None)
        return false;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    bool full_screen = false;
    Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    Atom wanted = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    if (XGetWindowProperty(display, w, state, 0, 32, False, XA_ATOM, &type, &format, &count, &after, &data) ==
            Success && data) {
        for (unsigned long i = 0; i < count; ++i)
            full_screen |= ((Atom *)data)[i] == wanted;
        XFree(data);
    }
    XWindowAttributes a;
    Window child;
    int x = -1, y = -1;
    XGetWindowAttributes(display, w, &a);
    XTranslateCoordinates(display, w, a.root, 0, 0, &x, &y, &child);
    return full_screen && a.map_state == IsViewable && x == 0 && y == 0 &&
           a.width == DisplayWidth(display, DefaultScreen(display)) &&
           a.height == DisplayHeight(display, DefaultScreen(display));
}

// Every viewable window of a client's, that is with a class, and its size.
static void list_windows(Display *display, Window w, std::string *list)
{
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        XClassHint hint = {};
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable)
            continue;
        if (XGetClassHint(display, children[i], &hint)) {
            *list += std::string(hint.res_class ? hint.res_class : "") + " " + std::to_string(a.width) + "x" +
                     std::to_string(a.height) + (is_havoc(display, children[i]) && havoc_focused() ? " focused" : "") +
                     "\n";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        list_windows(display, children[i], list);
    }
    if (children)
        XFree(children);
}

std::string x_window_list()
{
    std::string list;
    list_windows(xwayland(), DefaultRootWindow(xwayland()), &list);
    return list.empty() ? "no X window\n" : list;
}

bool x_any_window() { return x_window_list().find("Havoc ") != std::string::npos; }

Picture read_png(const std::string &path)
{
    Picture p;
    png_image png = {};
    png.version = PNG_IMAGE_VERSION;
    std::vector<png_byte> bytes;
    if (png_image_begin_read_from_file(&png, path.c_str())) {
        png.format = PNG_FORMAT_RGB;
        bytes.resize(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr))
            bytes.clear();
    }
    if (bytes.empty()) {
        ADD_FAILURE() << "cannot read the picture " << path << ": " << png.message;
        return p;
    }
    p.w = (int)png.width;
    p.h = (int)png.height;
    p.rgb.reserve((size_t)p.w * p.h);
    for (size_t i = 0; i < bytes.size(); i += 3)
        p.rgb.push_back(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);
    return p;
}
