// Loads havoc's pictures and sounds from havoc.dat and releases them.
//
// Every object is required, so anything missing or damaged stops the program
// with one line naming it. The library's TGA reader trusts its input (a short
// run-length image overruns the heap, an oversized colour map the stack, a
// bare header comes out as a white picture), so each image's bytes are
// checked before the library is allowed to decode them.
#include "assets.h"

#include "art_geometry.h"
#include "fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

BITMAP *bat_image, *crack_image, *saber_image, *saber_hole_image;
BITMAP *laser_image, *laser_hole_image, *lady_sheet, *pointer_image;
BITMAP *lady_frames[LADY_FRAMES];
BITMAP *palette_icons[PALETTE_ICONS];
BITMAP *palette_cap, *palette_cap_mirrored;
RLE_SPRITE *bat_frames[BAT_FRAMES], *saber_cells[SABER_CELLS], *laser_frames[LASER_FRAMES];
SAMPLE *laser_sound, *glass_sound, *lightsaber_sound;
SAMPLE *saber_on_sound, *saber_off_sound, *mampf_sound;

static const char DATA_FILE[] = "havoc.dat";
static const int PATH_SIZE = 256;
static const int ICON_NAME_SIZE = 32;

// What we accept of a TGA: the uncompressed true-colour kind we write.
static const int TGA_HEADER_SIZE = 18;
static const int TGA_TRUE_COLOUR = 2;
static const int TGA_MAX_SIDE = 8192;

// The library's name for an object of the data file: "havoc.dat#<name>".
static std::string object_path(const char *name)
{
    return std::string(DATA_FILE) + "#" + name;
}

BITMAP *load_image(const char *name)
{
    return load_bitmap(object_path(name).c_str(), nullptr);
}

SAMPLE *load_sound(const char *name)
{
    return load_sample(object_path(name).c_str());
}

static const char *working_dir()
{
    static char dir[PATH_SIZE];
    if (!getcwd(dir, sizeof dir))
        std::snprintf(dir, sizeof dir, "the current folder");
    return dir;
}

[[noreturn]] static void not_a_data_file()
{
    fatal("%s in %s is not a havoc data file: replace it with a good copy", DATA_FILE, working_dir());
}

static const char *kind_of_file(std::filesystem::file_type type)
{
    switch (type) {
    case std::filesystem::file_type::directory: return "a folder";
    case std::filesystem::file_type::fifo: return "a named pipe";
    case std::filesystem::file_type::block:
    case std::filesystem::file_type::character: return "a device";
    case std::filesystem::file_type::socket: return "a socket";
    default: return "not a plain file";
    }
}

// The first bytes of every file the library's file layer writes: "slh." for
// a plain one, which a data file then follows with "ALL."; "slh!" for a
// compressed one, whose contents only the library can check.
static const char PLAIN_FILE_MAGIC[] = "slh.ALL.";
static const char PACKED_FILE_MAGIC[] = "slh!";
static const size_t READ_CHUNK = 65536;

// Bytes read only to be counted or to reach the end of a file.
static char scratch[READ_CHUNK];

void check_data_file()
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::file_status status = fs::status(DATA_FILE, error);
    std::error_code no_link;
    bool link = fs::is_symlink(fs::symlink_status(DATA_FILE, no_link));
    if (status.type() == fs::file_type::not_found && !link)
        fatal("cannot open %s in %s: run havoc from the folder that holds it", DATA_FILE, working_dir());
    if (error) {
        // A link that leads nowhere, a loop of links, a folder we may not search.
        std::string target = link ? " (a link to " + fs::read_symlink(DATA_FILE, no_link).string() + ")" : "";
        fatal("cannot open %s%s in %s: %s; replace it with a good copy", DATA_FILE, target.c_str(),
              working_dir(), error.message().c_str());
    }
    // Opening a named pipe or a device could wait for ever.
    if (!fs::is_regular_file(status))
        fatal("%s in %s is %s, not a file: replace it with a good copy", DATA_FILE, working_dir(),
              kind_of_file(status.type()));
    std::FILE *file = std::fopen(DATA_FILE, "rb");
    if (!file)
        fatal("cannot open %s in %s: %s; replace it with a good copy", DATA_FILE, working_dir(),
              std::strerror(errno));
    // Read whole, so a file that cannot be read fails here, before the
    // screen is touched, rather than halfway through the loads.
    char start[sizeof PLAIN_FILE_MAGIC - 1] = {};
    size_t got = std::fread(start, 1, sizeof start, file);
    while (std::fread(scratch, 1, sizeof scratch, file) == sizeof scratch)
        ;
    int read_error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (read_error)
        fatal("cannot read %s in %s: %s; replace it with a good copy", DATA_FILE, working_dir(),
              std::strerror(read_error));
    bool plain = got == sizeof start && std::memcmp(start, PLAIN_FILE_MAGIC, sizeof start) == 0;
    bool packed = got >= sizeof PACKED_FILE_MAGIC - 1 &&
                  std::memcmp(start, PACKED_FILE_MAGIC, sizeof PACKED_FILE_MAGIC - 1) == 0;
    if (!plain && !packed)
        not_a_data_file();
}

// A compressed data file is checked once the library can open it, before
// any object is looked up in it.
static void check_data_file_contents()
{
    PACKFILE *f = pack_fopen(DATA_FILE, F_READ_PACKED);
    long magic = f ? pack_mgetl(f) : 0;
    if (f)
        pack_fclose(f);
    if (magic != DAT_MAGIC)
        not_a_data_file();
}

[[noreturn]] static void missing(const char *name)
{
    fatal("%s has no %s: replace it with a good copy", DATA_FILE, name);
}

[[noreturn]] static void damaged(const char *name, const char *what)
{
    fatal("%s is damaged: %s %s; replace it with a good copy", DATA_FILE, name, what);
}

// Reads the object's bytes through the library's own file layer and refuses
// anything but an uncompressed 24- or 32-bit TGA that holds all its pixels.
static void check_tga(const char *name)
{
    PACKFILE *f = pack_fopen(object_path(name).c_str(), F_READ);
    if (!f)
        missing(name);
    unsigned char header[TGA_HEADER_SIZE];
    long got = pack_fread(header, sizeof header, f);
    long length = got;
    for (long n; (n = pack_fread(scratch, sizeof scratch, f)) > 0;)
        length += n;
    pack_fclose(f);
    if (got < TGA_HEADER_SIZE)
        damaged(name, "is too short to be a picture");

    int id_length = header[0];
    int colour_map_type = header[1];
    int image_type = header[2];
    int w = header[12] | header[13] << 8;
    int h = header[14] | header[15] << 8;
    int bpp = header[16];
    if (colour_map_type != 0 || image_type != TGA_TRUE_COLOUR || (bpp != 24 && bpp != 32))
        damaged(name, "is not an uncompressed true-colour TGA");
    if (w <= 0 || h <= 0 || w > TGA_MAX_SIDE || h > TGA_MAX_SIDE)
        damaged(name, "has impossible dimensions");
    long needed = TGA_HEADER_SIZE + id_length + (long)w * h * (bpp / 8);
    if (length < needed)
        fatal("%s is damaged: %s is cut short (%ld of %ld bytes); replace it with a good copy",
              DATA_FILE, name, length, needed);
}

static BITMAP *required_image(const char *name)
{
    check_tga(name);
    BITMAP *image = load_image(name);
    if (!image)
        fatal("cannot load %s from %s: replace it with a good copy", name, DATA_FILE);
    return image;
}

// A strip must hold every frame the tools draw from it.
static BITMAP *required_strip(const char *name, int frame_w, int frame_h, int frames)
{
    BITMAP *image = required_image(name);
    if (image->w < frame_w * frames || image->h < frame_h)
        fatal("%s is damaged: %s is %dx%d, smaller than its %dx%d of frames; replace it with a good copy",
              DATA_FILE, name, image->w, image->h, frame_w * frames, frame_h);
    return image;
}

static BITMAP *required_sized(const char *name, int w, int h)
{
    BITMAP *image = required_image(name);
    if (image->w != w || image->h != h)
        fatal("%s is damaged: %s is %dx%d, not %dx%d like icon00.tga; replace it with a good copy",
              DATA_FILE, name, image->w, image->h, w, h);
    return image;
}

static SAMPLE *required_sound(const char *name)
{
    SAMPLE *sound = load_sound(name);
    if (!sound) {
        PACKFILE *f = pack_fopen(object_path(name).c_str(), F_READ);
        if (!f)
            missing(name);
        pack_fclose(f);
        damaged(name, "is not a readable WAV sound");
    }
    if (sound->len == 0)
        damaged(name, "holds no sound");
    return sound;
}

void load_palette_icons()
{
    char name[ICON_NAME_SIZE];
    for (int i = 0; i < END_ICON; ++i) {
        std::snprintf(name, sizeof name, "icon%02i.tga", i);
        palette_icons[i] = i == 0 ? required_image(name)
                                  : required_sized(name, palette_icons[0]->w, palette_icons[0]->h);
    }
    palette_icons[END_ICON] = required_sized("iconend.tga", palette_icons[0]->w, palette_icons[0]->h);
    palette_cap = required_image("cap.tga");
    if (palette_cap->h != palette_icons[0]->h)
        fatal("%s is damaged: cap.tga is %dx%d, not as tall as the %d of the icons; replace it with a good copy",
              DATA_FILE, palette_cap->w, palette_cap->h, palette_icons[0]->h);
    palette_cap_mirrored = create_bitmap(palette_cap->w, palette_cap->h);
    if (!palette_cap_mirrored)
        fatal("not enough memory for the palette's right end");
    clear_to_color(palette_cap_mirrored, bitmap_mask_color(palette_cap_mirrored));
    draw_sprite_h_flip(palette_cap_mirrored, palette_cap, 0, 0);
}

// Frame `frame` of a strip of frames frame_w x frame_h, side by side.
static RLE_SPRITE *run_length_frame(BITMAP *strip, int frame, int frame_w, int frame_h)
{
    BITMAP *window = create_sub_bitmap(strip, frame * frame_w, 0, frame_w, frame_h);
    RLE_SPRITE *sprite = window ? get_rle_sprite(window) : nullptr;
    if (!sprite)
        fatal("not enough memory for the tools' pictures");
    destroy_bitmap(window);
    return sprite;
}

static void cut_tool_frames()
{
    for (int i = 0; i < BAT_FRAMES; ++i)
        bat_frames[i] = run_length_frame(bat_image, i, BAT_FRAME_W, BAT_FRAME_H);
    for (int i = 0; i < SABER_CELLS; ++i)
        saber_cells[i] = run_length_frame(saber_image, i, SABER_CELL_W, SABER_CELL_H);
    for (int i = 0; i < LASER_FRAMES; ++i)
        laser_frames[i] = run_length_frame(laser_image, i, LASER_FRAME_W, LASER_FRAME_H);
}

void load_assets()
{
    check_data_file_contents();
    // Pictures are converted to the screen's depth as they load. Keep their
    // mask colour transparent: at 8 bits it would otherwise become the
    // palette's nearest magenta instead of the mask index.
    set_color_conversion(COLORCONV_TOTAL | COLORCONV_KEEP_TRANS);
    bat_image = required_strip("bat.tga", BAT_FRAME_W, BAT_FRAME_H, BAT_FRAMES);
    crack_image = required_image("crack.tga");
    saber_image = required_strip("saber.tga", SABER_CELL_W, SABER_CELL_H, SABER_CELLS);
    saber_hole_image = required_image("saberhole.tga");
    laser_image = required_strip("laser.tga", LASER_FRAME_W, LASER_FRAME_H, LASER_FRAMES);
    laser_hole_image = required_image("laserhole.tga");
    lady_sheet = required_strip("lady.tga", LADY_FRAME, LADY_FRAME, LADY_FRAMES);
    pointer_image = required_image("pointer.tga");
    for (int i = 0; i < LADY_FRAMES; ++i) {
        lady_frames[i] = create_sub_bitmap(lady_sheet, LADY_FRAME * i, 0, LADY_FRAME, LADY_FRAME);
        if (!lady_frames[i])
            fatal("not enough memory for the lady's frames");
    }
    cut_tool_frames();
    load_palette_icons();
    laser_sound = required_sound("laser.wav");
    glass_sound = required_sound("glass.wav");
    lightsaber_sound = required_sound("lightsaber.wav");
    saber_on_sound = required_sound("saber0.wav");
    saber_off_sound = required_sound("saberout.wav");
    mampf_sound = required_sound("mampf.wav");
}

static void drop(BITMAP *&image)
{
    destroy_bitmap(image);
    image = nullptr;
}

void release_assets()
{
    for (BITMAP **image : {&bat_image, &crack_image, &saber_image, &saber_hole_image, &laser_image,
                           &laser_hole_image, &lady_sheet, &pointer_image})
        drop(*image);
    for (BITMAP *&frame : lady_frames)
        drop(frame);
    for (BITMAP *&icon : palette_icons)
        drop(icon);
    drop(palette_cap);
    drop(palette_cap_mirrored);
    auto drop_sprite = [](RLE_SPRITE *&sprite) {
        destroy_rle_sprite(sprite);
        sprite = nullptr;
    };
    for (RLE_SPRITE *&frame : bat_frames)
        drop_sprite(frame);
    for (RLE_SPRITE *&cell : saber_cells)
        drop_sprite(cell);
    for (RLE_SPRITE *&frame : laser_frames)
        drop_sprite(frame);
    for (SAMPLE **sound : {&laser_sound, &glass_sound, &lightsaber_sound, &saber_on_sound,
                           &saber_off_sound, &mampf_sound}) {
        destroy_sample(*sound);
        *sound = nullptr;
    }
}
