// What the Wayland scenarios ask of the desktop they run on, each desktop
// answering through its own compositor: sway (swaymsg, grim, wtype, and
// XTEST for the pointer), GNOME (GNOME Shell's screenshot and Mutter's
// remote desktop interface) and KDE Plasma (KWin's screenshot interface and
// its fake input protocol). with_DESKTOP.sh names the desktop in
// HAVOC_TEST_DESKTOP.
#pragma once

#include "e2e/desktop.h"
#include "e2e/runs.h"

#include <functional>
#include <string>

struct WaylandDesktop {
    const char *name;
    // The compositor's own picture of the screen, or of `area` of it when
    // that is not empty.
    Picture (*capture)(Rect area);
    // Whether the native window has the keyboard, as before havoc started.
    bool (*native_window_has_keyboard)();
    // Whether havoc's window is full screen and has the keyboard.
    bool (*havoc_full_screen_with_keyboard)();
    // Whether any X window is on the screen.
    bool (*any_x_window)();
    // The X windows as the compositor sees them, for a failure's message.
    std::string (*x_windows)();
    // The pointer moved to (x, y), and its left button pressed or released,
    // as a mouse would; `x` is XWayland, where the pointer shows up.
    void (*move_pointer)(XServer &x, int px, int py);
    void (*press_button)(XServer &x, bool down);
    // A key (an X keysym name: "Escape") pressed and held through the
    // compositor until `done` holds, tried again when the press is lost.
    bool (*type_key_until)(const std::string &key, const std::function<bool()> &done);
    // Sets every output's scale; false where the desktop cannot here.
    bool (*scale_output)(int scale);
    // Whether the desktop flashes the screen as its portal takes a picture
    // (GNOME's does, and an application cannot ask it not to).
    bool portal_flashes;
    // The pointer as the desktop's portal draws it into its picture, around
    // its hot spot (KDE's does, and offers no way to leave it out); empty
    // where the picture has no pointer.
    Rect portal_pointer = {0, 0, 0, 0};
    // There, the pointer put at (px, py) before launch, with no X window
    // to see it go there.
    void (*place_pointer)(int px, int py) = nullptr;
    // Whether the window that loses the keyboard to havoc's is redrawn
    // lighter, as a window without it, a moment before havoc's window shows
    // (under KWin its shadow shrinks and its frame greys).
    bool focus_lightens_windows = false;
    // Where the desktop changes by itself, on session.sh's screen: a panel's
    // clock, which may move on to the next minute between a picture of the
    // desktop and havoc's own.
    Rect clock = {0, 0, 0, 0};
};

// The desktop named by HAVOC_TEST_DESKTOP.
const WaylandDesktop &this_desktop();

extern const WaylandDesktop SWAY, GNOME, KDE;

// Shared by the desktops.
bool shell_succeeds(const std::string &command);
// Polls `condition` for `seconds`, pressing `key` through `press` (down,
// then up) first and again each time it did not take.
bool press_key_until(const std::function<void(bool down)> &press, const std::function<bool()> &done);
// The X side of XWayland, for desktops whose compositor does not tell: the
// window with the keyboard, and havoc's windows.
int x_screen_width();
int x_screen_height();
bool x_havoc_full_screen_with_keyboard();
bool x_havoc_has_keyboard();
bool x_any_window();
std::string x_window_list();
// A PNG file's pixels.
Picture read_png(const std::string &path);
