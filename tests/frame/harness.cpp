#include "frame/harness.h"

#include "tools/bat.h"
#include "tools/lady.h"
#include "tools/laser.h"
#include "tools/lightsaber.h"

#include <allegro/internal/aintern.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// A loop that is still running this long after its script ended is stuck.
static const int RUNAWAY_FRAMES = 20000;

// The scripted keyboard and mouse: drivers of the library's own kind,
// offered to install_keyboard and install_mouse through the system driver's
// lists of input drivers, where the X11 system driver offers its X ones. Like
// the X drivers they need no polling: the script hands each key and each
// move to the library as the X input thread does, and position_mouse moves
// the library's pointer by itself.
static const int SCRIPTED_KEYBOARD = AL_ID('S', 'C', 'R', 'P');
static const int SCRIPTED_MOUSE = AL_ID('S', 'C', 'R', 'P');
static const int SCRIPTED_BUTTONS = 3;

static int scripted_mouse_init()
{
    return SCRIPTED_BUTTONS;
}

static void scripted_mouse_exit() {}

static MOUSE_DRIVER scripted_mouse = {
    SCRIPTED_MOUSE, "", "", "Scripted mouse",
    scripted_mouse_init, scripted_mouse_exit,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

static _DRIVER_INFO scripted_mouse_list[] = {
    {SCRIPTED_MOUSE, &scripted_mouse, TRUE},
    {0, nullptr, 0},
};

static _DRIVER_INFO *scripted_mouse_drivers()
{
    return scripted_mouse_list;
}

static int scripted_keyboard_init()
{
    return 0;
}

static void scripted_keyboard_exit() {}

static KEYBOARD_DRIVER scripted_keyboard = {
    SCRIPTED_KEYBOARD, "", "", "Scripted keyboard", FALSE,
    scripted_keyboard_init, scripted_keyboard_exit,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

static _DRIVER_INFO scripted_keyboard_list[] = {
    {SCRIPTED_KEYBOARD, &scripted_keyboard, TRUE},
    {0, nullptr, 0},
};

static _DRIVER_INFO *scripted_keyboard_drivers()
{
    return scripted_keyboard_list;
}

void hold_keys(const std::vector<int> &keys)
{
    for (int k = 1; k < KEY_MAX; ++k) {
        bool down = std::find(keys.begin(), keys.end(), k) != keys.end();
        if (down && !key[k])
            _handle_key_press(-1, k);
        else if (!down && key[k])
            _handle_key_release(k);
    }
}

// Where the script's hand last put the pointer.
static int hand_x = -1, hand_y = -1;

static void move_hand(int x, int y, int buttons, bool always)
{
    if (always || x != hand_x || y != hand_y) {
        _mouse_x = x;
        _mouse_y = y;
    }
    hand_x = x;
    hand_y = y;
    _mouse_b = buttons;
    _handle_mouse_input();
}

void point_at(int x, int y, int buttons)
{
    move_hand(x, y, buttons, true);
}

static const Script *active_script;
static const std::function<void(int)> *active_observer;
static int frames_shown;

static void apply(const Input &in)
{
    hold_keys(in.keys);
    move_hand(in.x, in.y, in.buttons, false);
    tick_count.store(in.ticks);
}

static void after_each_show()
{
    int frame = frames_shown++;
    if (*active_observer)
        (*active_observer)(frame);
    const Script &script = *active_script;
    if (frames_shown < (int)script.size()) {
        apply(script[frames_shown]);
        return;
    }
    // Script done: hold Escape and let time run so every loop leaves.
    Input last = script.empty() ? Input{0, 0, 0, 0, {}} : script.back();
    last.keys = {KEY_ESC};
    last.buttons = 0;
    last.ticks = tick_count.load() + 1;
    apply(last);
    if (frames_shown > (int)script.size() + RUNAWAY_FRAMES) {
        ADD_FAILURE() << "loop did not return after its script ended";
        std::abort();
    }
}

int drive(const std::function<void()> &loop, const Script &script,
          const std::function<void(int)> &after_show)
{
    active_script = &script;
    active_observer = &after_show;
    frames_shown = 0;
    if (!script.empty())
        apply(script[0]);
    frame_hook = after_each_show;
    loop();
    frame_hook = nullptr;
    return frames_shown;
}

Script hold(int frames, Input from)
{
    Script s;
    for (int i = 0; i < frames; ++i) {
        s.push_back(from);
        ++from.ticks;
    }
    return s;
}

Script operator+(Script a, const Script &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int test_picture_rgb(int x, int y)
{
    int r = (x * 255 / 1023) & 0xff;
    int g = (y * 255 / 767) & 0xff;
    int b = ((x + y) * 3) & 0xff;
    return (r << 16) | (g << 8) | b;
}

int rgb_at(BITMAP *bmp, int x, int y)
{
    int c = getpixel(bmp, x, y);
    int depth = bitmap_color_depth(bmp);
    return (getr_depth(depth, c) << 16) | (getg_depth(depth, c) << 8) | getb_depth(depth, c);
}

BITMAP *copy_of(BITMAP *bmp)
{
    BITMAP *copy = create_bitmap_ex(bitmap_color_depth(bmp), bmp->w, bmp->h);
    blit(bmp, copy, 0, 0, 0, 0, bmp->w, bmp->h);
    return copy;
}

void each_difference(BITMAP *got, BITMAP *want, Area area,
                     const std::function<void(int, int, int, int)> &seen)
{
    int left = std::max(area.x, 0), top = std::max(area.y, 0);
    int right = std::min({area.x + area.w, got->w, want->w});
    int bottom = std::min({area.y + area.h, got->h, want->h});
    if (left >= right)
        return;
    // Rows of memory bitmaps that are the same byte for byte are passed over
    // at once.
    bool in_memory = is_memory_bitmap(got) && is_memory_bitmap(want);
    int bytes_per_pixel = (bitmap_color_depth(got) + 7) / 8;
    size_t row_bytes = (size_t)(right - left) * bytes_per_pixel;
    for (int y = top; y < bottom; ++y) {
        if (in_memory && std::memcmp(got->line[y] + left * bytes_per_pixel,
                                     want->line[y] + left * bytes_per_pixel, row_bytes) == 0)
            continue;
        for (int x = left; x < right; ++x) {
            int g = rgb_at(got, x, y), w = rgb_at(want, x, y);
            if (g != w)
                seen(x, y, g, w);
        }
    }
}

int differing_pixels(BITMAP *got, BITMAP *want, Area area)
{
    int count = 0;
    each_difference(got, want, area, [&](int, int, int, int) { ++count; });
    return count;
}

std::string differences(BITMAP *got, BITMAP *want, Area area)
{
    const int SHOWN = 5;
    std::string found;
    int count = 0;
    each_difference(got, want, area, [&](int x, int y, int g, int w) {
        if (count++ < SHOWN) {
            char line[64];
            std::snprintf(line, sizeof line, "(%d,%d) %06x/%06x ", x, y, g, w);
            found += line;
        }
    });
    if (count)
        found += std::to_string(count) + " pixels differ";
    return found;
}

// The test picture at the screen's depth, made once: at 8 bits every
// makecol searches the palette.
static BITMAP *test_picture;

void reset_scene()
{
    if (!test_picture) {
        test_picture = create_bitmap(desktop_bmp->w, desktop_bmp->h);
        for (int y = 0; y < test_picture->h; ++y)
            for (int x = 0; x < test_picture->w; ++x) {
                int rgb = test_picture_rgb(x, y);
                putpixel(test_picture, x, y, makecol((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff));
            }
    }
    blit(test_picture, desktop_bmp, 0, 0, 0, 0, desktop_bmp->w, desktop_bmp->h);
    clear_bitmap(back_buffer);
    clear_bitmap(screen);
    apply(Input{0, SCREEN_W / 2, SCREEN_H / 2, 0, {}});
    point_at(SCREEN_W / 2, SCREEN_H / 2);
    step_deadline = 0;
    bat_step = saber_step = laser_step = lady_step = 0;
    current_tool = NO_TOOL;
    for (int v = 0; v < VIRTUAL_VOICES; ++v)
        if (voice_check(v))
            deallocate_voice(v);
    std::srand(1);
}

std::vector<Voice> voices_playing(SAMPLE *sound)
{
    std::vector<Voice> found;
    for (int v = 0; v < VIRTUAL_VOICES; ++v)
        if (voice_check(v) == sound)
            found.push_back({v, voice_get_pan(v)});
    return found;
}

void finish_voices(SAMPLE *sound)
{
    for (const Voice &v : voices_playing(sound))
        deallocate_voice(v.voice);
}

PaletteGeometry palette_on_screen()
{
    return palette_geometry({0, 0, SCREEN_W, SCREEN_H}, palette_icons[0]->w, palette_icons[0]->h,
                            palette_cap->w);
}

int palette_slot_x(int slot)
{
    PaletteGeometry g = palette_on_screen();
    return g.icons_left + slot * g.icon_w + g.icon_w / 2;
}

int palette_slot_y()
{
    PaletteGeometry g = palette_on_screen();
    return g.palette_top + g.icon_h / 2;
}

Script palette_click(int slot)
{
    int x = palette_slot_x(slot), y = palette_slot_y();
    return {
        {0, x, y, 0, {}},                    // the fade's pass at tick 0
        {PALETTE_FADE_TICKS, x, y, 0, {}},   // fade over: pointer on the icon
        {PALETTE_FADE_TICKS, x, y, 1, {}},   // press
        {PALETTE_FADE_TICKS, x, y, 0, {}},   // release: the palette returns
    };
}

bool start_scene(bool sound_required)
{
    if (allegro_init() != 0) {
        std::fprintf(stderr, "cannot start the library\n");
        return false;
    }
    int w = 0, h = 0;
    get_desktop_resolution(&w, &h);
    set_color_depth(desktop_color_depth());
    if (set_gfx_mode(GFX_AUTODETECT_FULLSCREEN, w, h, 0, 0) != 0) {
        std::fprintf(stderr, "no %dx%d graphics mode: %s\n", w, h, allegro_error);
        return false;
    }
    desktop_bmp = create_bitmap(w, h);
    back_buffer = create_bitmap(w, h);
    system_driver->keyboard_drivers = scripted_keyboard_drivers;
    system_driver->mouse_drivers = scripted_mouse_drivers;
    if (install_keyboard() != 0 || keyboard_driver->id != SCRIPTED_KEYBOARD ||
        install_mouse() < 0 || mouse_driver->id != SCRIPTED_MOUSE) {
        std::fprintf(stderr, "the scripted input drivers did not install: %s\n", allegro_error);
        return false;
    }
    bool sound = install_sound(DIGI_AUTODETECT, MIDI_NONE, nullptr) == 0 && digi_driver &&
                 digi_driver->id != DIGI_NONE;
    if (!sound) {
        std::fprintf(stderr, "no sound driver (%s): %s\n", allegro_error,
                     sound_required ? "voices cannot be observed" : "going on silently");
        if (sound_required)
            return false;
    }
    if (chdir(HAVOC_DATA_DIR) != 0) {
        std::perror(HAVOC_DATA_DIR);
        return false;
    }
    load_assets();
    return true;
}

void end_scene()
{
    release_assets();
    destroy_bitmap(test_picture);
    destroy_bitmap(back_buffer);
    destroy_bitmap(desktop_bmp);
}

bool voice_loops(int voice)
{
    for (int p = 0; p < digi_driver->voices; ++p)
        if (_phys_voice[p].num == voice)
            return _phys_voice[p].playmode & PLAYMODE_LOOP;
    return false;
}
