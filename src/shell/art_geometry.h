// The geometry of havoc's pictures: the size of every frame and the pixel of
// each picture that the program puts on the pointer. The data generator
// draws the pictures to these numbers, the loader holds the strips to them
// and the tools place the pictures by them.
#pragma once

// bat.tga: five frames side by side; the pointer holds the bat by its grip.
const int BAT_FRAME_W = 160, BAT_FRAME_H = 120, BAT_FRAMES = 5;
const int BAT_GRIP_X = 140, BAT_GRIP_Y = 32;

// crack.tga: square, stamped with its centre pixel on the pointer.
const int CRACK_SIZE = 121;
const int CRACK_CENTRE = 60;

// saber.tga: five cells side by side; the lit blade's tip sits on the
// pointer, so the trail is burned through it.
const int SABER_CELL_W = 258, SABER_CELL_H = 245, SABER_CELLS = 5;
const int SABER_TIP_X = 168, SABER_TIP_Y = 172;

// saberhole.tga: stamped with this pixel on every point of the trail.
const int SABER_HOLE_W = 28, SABER_HOLE_H = 24;
const int SABER_HOLE_CENTRE_X = 14, SABER_HOLE_CENTRE_Y = 12;

// laser.tga: four frames side by side, each hanging from the pointer by its
// top-left corner.
const int LASER_FRAME_W = 173, LASER_FRAME_H = 163, LASER_FRAMES = 4;

// laserhole.tga: square, turned about its centre pixel, which lands on the
// pointer.
const int LASER_HOLE_SIZE = 28;
const int LASER_HOLE_CENTRE = 14;

// lady.tga: three square frames side by side.
const int LADY_FRAME = 29, LADY_FRAMES = 3;

// The palette: icon00.tga to icon03.tga (the tools, in their order), then
// iconend.tga, square, side by side between cap.tga at the left end and its
// mirror image at the right.
const int PALETTE_ICONS = 5, END_ICON = PALETTE_ICONS - 1;
const int PALETTE_ICON_SIZE = 64;
const int PALETTE_CAP_W = 16;
