// sway: its tree through swaymsg, the screen through grim, keys through a
// virtual keyboard (wtype) and the pointer through XWayland's XTEST.
#include "wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <cstdio>

// Whether some window of the compositor's tree matches a jq condition.
static bool compositor_has(const std::string &condition)
{
    return shell_succeeds("swaymsg -t get_tree | jq -e '.. | objects | select(" + condition + ")'");
}

static bool terminal_has_keyboard() { return compositor_has(R"(.app_id == "foot" and .focused)"); }
static bool havoc_full_screen_with_keyboard()
{
    return compositor_has(R"(.shell == "xwayland" and .fullscreen_mode == 1 and .focused)");
}
static bool any_x_window() { return compositor_has(R"(.shell == "xwayland")"); }

static std::string x_windows()
{
    FILE *tree = popen("swaymsg -t get_tree | jq -c '.. | objects | select(.shell == \"xwayland\") | "
                       "{name, rect, fullscreen_mode, focused}'", "r");
    std::string text;
    for (int c; tree && (c = std::fgetc(tree)) != EOF;)
        text += (char)c;
    if (tree)
        pclose(tree);
    return text.empty() ? "no X window\n" : text;
}

static Picture capture(Rect area)
{
    Picture p;
    std::string region;
    if (area.w > 0)
        region = " -g '" + std::to_string(area.x) + "," + std::to_string(area.y) + " " + std::to_string(area.w) +
                 "x" + std::to_string(area.h) + "'";
    FILE *grim = popen(("grim -t ppm" + region + " -").c_str(), "r");
    int max = 0;
    if (!grim || std::fscanf(grim, "P6 %d %d %d", &p.w, &p.h, &max) != 3 || std::fgetc(grim) == EOF) {
        ADD_FAILURE() << "grim gave no picture";
        if (grim)
            pclose(grim);
        return p;
    }
    std::vector<unsigned char> bytes((size_t)p.w * p.h * 3);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), grim), bytes.size());
    pclose(grim);
    p.rgb.reserve((size_t)p.w * p.h);
    for (size_t i = 0; i < bytes.size(); i += 3)
        p.rgb.push_back(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);
    return p;
}

static void pointer_to(XServer &x, int px, int py) { ::move_pointer(x, px, py); }

static void button(XServer &x, bool down)
{
    if (down)
        ::press_button(x);
    else
        ::release_button(x);
}

// Every wtype is a new virtual keyboard whose keymap reaches XWayland a
// moment after it appears, and a key pressed before that is lost: hence the
// pause before the press, and a second try when the first is lost.
static bool type_key_until(const std::string &key, const std::function<bool()> &done)
{
    return wait_until([&] {
        EXPECT_TRUE(shell_succeeds("wtype -s 500 -P " + key + " -s 100 -p " + key));
        return wait_until(done, 5);
    }, 20);
}

static bool scale_output(int scale)
{
    return shell_succeeds("swaymsg output HEADLESS-1 scale " + std::to_string(scale));
}

const WaylandDesktop SWAY = {"sway", capture, terminal_has_keyboard, havoc_full_screen_with_keyboard, any_x_window,
                             x_windows, pointer_to, button, type_key_until, scale_output, false};
