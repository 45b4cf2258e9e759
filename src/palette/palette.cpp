// The tool palette, shown between tools: the strip fades in over the damaged
// picture (above 8 bits), then a click on an icon picks a tool or, on the end
// icon, ends the program; Escape ends it too.
#include "palette/palette.h"

#include "shell/art_geometry.h"
#include "shell/assets.h"
#include "shell/scene.h"

// Slots 0 to 3 are the tools, in their order; the end icon (slot END_ICON)
// and anything right of it quit.
static const int NO_SLOT = -1;

PaletteGeometry palette_geometry(const ScreenArea &monitor, int icon_w, int icon_h, int cap_w)
{
    PaletteGeometry g;
    g.icon_w = icon_w;
    g.icon_h = icon_h;
    g.icons_left = monitor.x + (monitor.w - PALETTE_ICONS * icon_w) / 2;
    g.palette_top = monitor.y + (monitor.h - icon_h) / 2 - icon_h;
    g.palette_left = g.icons_left - cap_w;
    g.palette_width = PALETTE_ICONS * icon_w + 2 * cap_w;
    g.palette_height = icon_h;
    return g;
}

// The pressed icon is covered by a dark blue plate, inset from its edges.
static const int HIGHLIGHT_INSET_LEFT = 3;
static const int HIGHLIGHT_INSET_TOP = 4;
static const int HIGHLIGHT_INSET_RIGHT = 6;
static const int HIGHLIGHT_INSET_BOTTOM = 6;
static const int HIGHLIGHT_BLUE = 64;

static void highlight_icon(const PaletteGeometry &g, int x)
{
    rectfill(back_buffer, x + HIGHLIGHT_INSET_LEFT, g.palette_top + HIGHLIGHT_INSET_TOP,
             x + g.icon_w - HIGHLIGHT_INSET_RIGHT, g.palette_top + g.icon_h - HIGHLIGHT_INSET_BOTTOM,
             makecol(0, 0, HIGHLIGHT_BLUE));
}

// draw_sprite for the interactive frames, draw_trans_sprite for the fade.
using SpriteDrawer = void (*)(BITMAP *bmp, BITMAP *sprite, int x, int y);

// Left end piece, the five icons, right end piece, into back_buffer. Each
// icon advances by its own width; the pressed one gets its plate right
// after it is drawn.
static void draw_strip(const PaletteGeometry &g, SpriteDrawer draw, int pressed_slot)
{
    draw(back_buffer, palette_cap, g.palette_left, g.palette_top);
    int x = g.icons_left;
    for (int slot = 0; slot < PALETTE_ICONS; ++slot) {
        draw(back_buffer, palette_icons[slot], x, g.palette_top);
        if (slot == pressed_slot)
            highlight_icon(g, x);
        x += palette_icons[slot]->w;
    }
    draw(back_buffer, palette_cap_mirrored, x, g.palette_top);
}

// The strip's rectangle from one bitmap to the same place of another.
static void copy_strip(const PaletteGeometry &g, BITMAP *from, BITMAP *to)
{
    blit(from, to, g.palette_left, g.palette_top, g.palette_left, g.palette_top,
         g.palette_width, g.palette_height);
}

// Alpha grows 2.5 a tick and so stops at 247, short of opaque. The first
// interactive frame draws the strip solid.
static const double FADE_ALPHA_PER_TICK = 2.5;

// The strip blends in over the clean picture. The mouse and Escape wait
// until it is done; a stop signal does not.
static void fade_in(const PaletteGeometry &g)
{
    // The clean picture everywhere: the last frame of the tool that was left
    // goes, and the first pass blends onto the picture like every later one.
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    copy_strip(g, desktop_bmp, back_buffer);
    for (int now = tick_count.load(); now < PALETTE_FADE_TICKS && !stop_signal.load();
         now = tick_count.load()) {
        set_trans_blender(0, 0, 0, (int)(now * FADE_ALPHA_PER_TICK));
        draw_strip(g, draw_trans_sprite, NO_SLOT);
        // Only the strip's rectangle reaches the screen.
        show_area(g.palette_left, g.palette_top, g.palette_width, g.palette_height);
        copy_strip(g, desktop_bmp, back_buffer);
    }
}

// Strictly inside on every side. The strip reaches one cap width past the
// right end piece, so a click right of the end icon quits like the end icon.
static bool in_click_strip(const PaletteGeometry &g, int x, int y)
{
    return x > g.icons_left && x < g.icons_left + g.palette_width &&
           y > g.palette_top && y < g.palette_top + g.palette_height;
}

static int slot_at(const PaletteGeometry &g, int x)
{
    return (x - g.icons_left) / g.icon_w;
}

int run_palette()
{
    // On the monitor the user is looking at, not across the bezel between two.
    const PaletteGeometry g = palette_geometry(monitor_at(mouse_x, mouse_y), palette_icons[0]->w,
                                               palette_icons[0]->h, palette_cap->w);
    int pressed_slot = NO_SLOT;   // where the left button went down, if on the strip
    bool button_down = false;
    tick_count.store(0);

    // The blender works only above 8 bits; an 8-bit mode shows the strip at once.
    if (bitmap_color_depth(back_buffer) > 8)
        fade_in(g);

    for (;;) {
        // Escape quits, before anything is drawn.
        if (escape_or_stop())
            return NO_TOOL;
        begin_frame();   // fresh copy of the picture, mouse polled
        int x = mouse_x, y = mouse_y;
        bool left_button = mouse_b & LEFT_BUTTON;

        // Press: remember the slot under the pointer.
        if (!button_down && left_button) {
            button_down = true;
            if (in_click_strip(g, x, y))
                pressed_slot = slot_at(g, x);
        }
        // Release over the slot of the press: the click is complete. Anywhere
        // else it chooses nothing and the highlight goes.
        if (button_down && !left_button) {
            button_down = false;
            if (in_click_strip(g, x, y) && slot_at(g, x) == pressed_slot)
                return pressed_slot < END_ICON ? pressed_slot : NO_TOOL;
            pressed_slot = NO_SLOT;
        }

        // The strip, the pressed icon dark blue, the library's arrow on top.
        draw_strip(g, draw_sprite, pressed_slot);
        draw_sprite(back_buffer, mouse_sprite, x, y);
        show_frame();
    }
}
