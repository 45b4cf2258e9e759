// Every picture and sound of havoc, loaded by name from havoc.dat in the
// working directory at start-up and released at shutdown. Read-only between.
#pragma once

#include "shell/art_geometry.h"

#include <allegro.h>

// Images, in load order.
extern BITMAP *bat_image;          // bat.tga: 5 frames of 160 x 120
extern BITMAP *crack_image;        // crack.tga: stamped turned at the mouse
extern BITMAP *saber_image;        // saber.tga: 5 cells of 258 x 245
extern BITMAP *saber_hole_image;   // saberhole.tga: burn mark of the trail
extern BITMAP *laser_image;        // laser.tga: 4 frames of 173 x 163
extern BITMAP *laser_hole_image;   // laserhole.tga: stamped turned at the end of a shot
extern BITMAP *lady_sheet;         // lady.tga: 3 frames of 29 x 29
extern BITMAP *pointer_image;      // pointer.tga: the lady tool's mouse pointer
extern BITMAP *lady_frames[LADY_FRAMES];       // sub-bitmaps of lady_sheet, sharing its pixels
extern BITMAP *palette_icons[PALETTE_ICONS];   // icon00.tga to icon03.tga (the tools), iconend.tga
extern BITMAP *palette_cap;        // cap.tga: the palette's left end piece
extern BITMAP *palette_cap_mirrored; // the right end piece, made from palette_cap

// The pictures the tools draw in every frame, cut from the strips above as
// run-length sprites: drawing one puts exactly the pixels a masked blit of
// that frame would, but skips the transparent runs instead of testing each
// pixel.
extern RLE_SPRITE *bat_frames[BAT_FRAMES];       // bat_image's frames
extern RLE_SPRITE *saber_cells[SABER_CELLS];     // saber_image's cells
extern RLE_SPRITE *laser_frames[LASER_FRAMES];   // laser_image's frames

// Sounds, in load order.
extern SAMPLE *laser_sound;        // laser.wav
extern SAMPLE *glass_sound;        // glass.wav
extern SAMPLE *lightsaber_sound;   // lightsaber.wav: the hum
extern SAMPLE *saber_on_sound;     // saber0.wav
extern SAMPLE *saber_off_sound;    // saberout.wav
extern SAMPLE *mampf_sound;        // mampf.wav: the lady's munching loop

// "havoc.dat#<name>" through load_bitmap / load_sample; null on failure.
BITMAP *load_image(const char *name);
SAMPLE *load_sound(const char *name);

// The five icons, the cap and its mirror.
void load_palette_icons();

// Before anything else is started: havoc.dat in the working directory is a
// data file that can be read whole. Stops the program with one line naming
// what is wrong (the system's own reason where it gives one) otherwise.
void check_data_file();

// Loads everything in order; stops the program with a one-line message
// naming the data file or object when something is missing or damaged.
void load_assets();

// Destroys every image (derived ones included) in load order, then the
// run-length frames, then every sound in load order.
void release_assets();
