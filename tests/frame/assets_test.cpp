// The data file as the tools see it once loaded: every picture with the
// geometry its tool draws by, hot spots where the pointer sits, clean mask
// edges, a cap whose mirror closes the strip, and sounds that play.
#include "frame/harness.h"

#include "shell/art_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The mask: bright pink above 8 bits, palette index 0 at 8.
bool transparent(BITMAP *bmp, int x, int y)
{
    return getpixel(bmp, x, y) == bitmap_mask_color(bmp);
}

struct Geometry {
    const char *name;
    BITMAP **image;
    int w, h;
};

// What the tools and the palette count on: frame strips, the crack centred
// on its middle, the holes on their stamping offsets.
const Geometry GEOMETRY[] = {
    {"bat.tga", &bat_image, BAT_FRAMES * BAT_FRAME_W, BAT_FRAME_H},
    {"crack.tga", &crack_image, CRACK_SIZE, CRACK_SIZE},
    {"saber.tga", &saber_image, SABER_CELLS * SABER_CELL_W, SABER_CELL_H},
    {"saberhole.tga", &saber_hole_image, SABER_HOLE_W, SABER_HOLE_H},
    {"laser.tga", &laser_image, LASER_FRAMES * LASER_FRAME_W, LASER_FRAME_H},
    {"laserhole.tga", &laser_hole_image, LASER_HOLE_SIZE, LASER_HOLE_SIZE},
    {"lady.tga", &lady_sheet, LADY_FRAMES * LADY_FRAME, LADY_FRAME},
    {"icon00.tga", &palette_icons[0], PALETTE_ICON_SIZE, PALETTE_ICON_SIZE},
    {"icon01.tga", &palette_icons[1], PALETTE_ICON_SIZE, PALETTE_ICON_SIZE},
    {"icon02.tga", &palette_icons[2], PALETTE_ICON_SIZE, PALETTE_ICON_SIZE},
    {"icon03.tga", &palette_icons[3], PALETTE_ICON_SIZE, PALETTE_ICON_SIZE},
    {"iconend.tga", &palette_icons[END_ICON], PALETTE_ICON_SIZE, PALETTE_ICON_SIZE},
    {"cap.tga", &palette_cap, PALETTE_CAP_W, PALETTE_ICON_SIZE},
    {"mirrored cap", &palette_cap_mirrored, PALETTE_CAP_W, PALETTE_ICON_SIZE},
};

TEST(Assets, EveryPictureHasTheGeometryItsToolDrawsBy)
{
    for (const Geometry &g : GEOMETRY) {
        SCOPED_TRACE(g.name);
        ASSERT_NE(*g.image, nullptr);
        EXPECT_EQ((*g.image)->w, g.w);
        EXPECT_EQ((*g.image)->h, g.h);
        EXPECT_EQ(bitmap_color_depth(*g.image), bitmap_color_depth(screen));
    }
    ASSERT_NE(pointer_image, nullptr);
    EXPECT_GT(pointer_image->w, 0);
}

TEST(Assets, LadyFramesAreWindowsOntoHerSheet)
{
    for (int i = 0; i < LADY_FRAMES; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(lady_frames[i], nullptr);
        EXPECT_TRUE(is_sub_bitmap(lady_frames[i]));
        EXPECT_EQ(lady_frames[i]->w, LADY_FRAME);
        EXPECT_EQ(lady_frames[i]->h, LADY_FRAME);
        for (int y = 0; y < LADY_FRAME; ++y)
            for (int x = 0; x < LADY_FRAME; ++x)
                ASSERT_EQ(rgb_at(lady_frames[i], x, y), rgb_at(lady_sheet, LADY_FRAME * i + x, y))
                    << x << "," << y;
    }
}

struct Spot {
    const char *what;
    BITMAP **image;
    int x, y;
    bool solid;
};

// Points the tools hold to the pointer: what must be there, and what not.
const Spot SPOTS[] = {
    {"bat rest frame, grip", &bat_image, 0 * BAT_FRAME_W + BAT_GRIP_X, BAT_GRIP_Y, true},
    {"bat back-swing, grip", &bat_image, 1 * BAT_FRAME_W + BAT_GRIP_X, BAT_GRIP_Y, true},
    {"bat further back, grip", &bat_image, 2 * BAT_FRAME_W + BAT_GRIP_X, BAT_GRIP_Y, true},
    {"bat forward, grip", &bat_image, 3 * BAT_FRAME_W + BAT_GRIP_X, BAT_GRIP_Y, true},
    {"bat impact, grip", &bat_image, 4 * BAT_FRAME_W + BAT_GRIP_X, BAT_GRIP_Y, true},
    {"crack centre", &crack_image, CRACK_CENTRE, CRACK_CENTRE, true},
    {"unlit saber, no blade at the tip", &saber_image, 0 * SABER_CELL_W + SABER_TIP_X, SABER_TIP_Y, false},
    {"lit saber, blade at the tip", &saber_image, 4 * SABER_CELL_W + SABER_TIP_X, SABER_TIP_Y, true},
    {"saber burn centre", &saber_hole_image, SABER_HOLE_CENTRE_X, SABER_HOLE_CENTRE_Y, true},
    {"laser hole centre", &laser_hole_image, LASER_HOLE_CENTRE, LASER_HOLE_CENTRE, true},
    {"lady's back, shut", &lady_sheet, 0 * LADY_FRAME + 5, 13, true},
    {"lady's back, open", &lady_sheet, 2 * LADY_FRAME + 5, 13, true},
    {"lady's jaws shut, meeting ahead of her head", &lady_sheet, 0 * LADY_FRAME + 26, 13, true},
    {"lady's jaws wide, a gap between them", &lady_sheet, 2 * LADY_FRAME + 26, 13, false},
    {"pointer tip", &pointer_image, 0, 0, true},
};

TEST(Assets, HotSpotsSitWhereThePointerHoldsThem)
{
    for (const Spot &s : SPOTS)
        EXPECT_EQ(!transparent(*s.image, s.x, s.y), s.solid) << s.what;
    // The gun hangs from the pointer: something of it within a few pixels of
    // every frame's top-left corner.
    for (int frame = 0; frame < LASER_FRAMES; ++frame) {
        bool near_corner = false;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                near_corner |= !transparent(laser_image, frame * LASER_FRAME_W + x, y);
        EXPECT_TRUE(near_corner) << "laser frame " << frame;
    }
}

TEST(Assets, StripFramesDifferSoEveryStepShows)
{
    // The 8-bit palette merges near colours, so fewer pixels tell the lady's
    // jaws apart there.
    const int least = bitmap_color_depth(screen) == 8 ? 10 : 20;
    struct Strip {
        const char *name;
        BITMAP *image;
        int frame_w, frames;
    };
    const Strip strips[] = {{"bat", bat_image, BAT_FRAME_W, BAT_FRAMES},
                            {"saber", saber_image, SABER_CELL_W, SABER_CELLS},
                            {"laser", laser_image, LASER_FRAME_W, LASER_FRAMES},
                            {"lady", lady_sheet, LADY_FRAME, LADY_FRAMES}};
    for (const Strip &s : strips)
        for (int a = 0; a < s.frames; ++a)
            for (int b = a + 1; b < s.frames; ++b) {
                int differ = 0;
                for (int y = 0; y < s.image->h; ++y)
                    for (int x = 0; x < s.frame_w; ++x)
                        differ += rgb_at(s.image, a * s.frame_w + x, y) != rgb_at(s.image, b * s.frame_w + x, y);
                EXPECT_GT(differ, least) << s.name << " frames " << a << " and " << b;
            }
}

TEST(Assets, MirroredCapIsTheCapFlippedWithTheSameTransparency)
{
    int w = palette_cap->w;
    int see_through = 0;
    for (int y = 0; y < palette_cap->h; ++y)
        for (int x = 0; x < w; ++x) {
            ASSERT_EQ(rgb_at(palette_cap_mirrored, w - 1 - x, y), rgb_at(palette_cap, x, y)) << x << "," << y;
            see_through += transparent(palette_cap, x, y);
        }
    // The cap rounds the strip off, so some of it must be see-through, and
    // its flipped columns must not all be alike or the test proves nothing.
    EXPECT_GT(see_through, 0);
    EXPECT_NE(rgb_at(palette_cap, 0, 32), rgb_at(palette_cap, w - 1, 32));
}

TEST(Assets, IconsAreOpaqueTiles)
{
    for (int i = 0; i < PALETTE_ICONS; ++i)
        for (int y = 0; y < palette_icons[i]->h; ++y)
            for (int x = 0; x < palette_icons[i]->w; ++x)
                ASSERT_FALSE(transparent(palette_icons[i], x, y)) << "icon " << i << " at " << x << "," << y;
}

// A pixel that is nearly the mask colour but not quite would show as a pink
// fringe on every desktop.
TEST(Assets, NoPictureHasNearlyMaskColouredPixels)
{
    const double NEAR = 96;
    std::vector<std::pair<std::string, BITMAP *>> pictures;
    for (const Geometry &g : GEOMETRY)
        pictures.push_back({g.name, *g.image});
    pictures.push_back({"pointer.tga", pointer_image});
    for (auto &[name, bmp] : pictures) {
        int fringe = 0, masked = 0;
        for (int y = 0; y < bmp->h; ++y)
            for (int x = 0; x < bmp->w; ++x) {
                if (transparent(bmp, x, y)) {
                    ++masked;
                    continue;
                }
                int c = rgb_at(bmp, x, y);
                double dr = 255 - (c >> 16 & 255), dg = c >> 8 & 255, db = 255 - (c & 255);
                fringe += std::sqrt(dr * dr + dg * dg + db * db) < NEAR;
            }
        EXPECT_EQ(fringe, 0) << name << " has " << fringe << " pinkish pixels";
        // Sprites drawn masked must actually have see-through parts.
        if (name.rfind("icon", 0) != 0) {
            EXPECT_GT(masked, 0) << name;
        }
    }
}

struct ExpectedSound {
    const char *name;
    SAMPLE **sound;
    double min_seconds, max_seconds;
};

const ExpectedSound SOUNDS[] = {
    {"laser.wav", &laser_sound, 0.1, 0.5},
    {"glass.wav", &glass_sound, 0.6, 1.5},
    {"lightsaber.wav", &lightsaber_sound, 1.0, 2.0},
    {"saber0.wav", &saber_on_sound, 0.2, 1.5},
    {"saberout.wav", &saber_off_sound, 0.2, 1.5},
    {"mampf.wav", &mampf_sound, 0.2, 2.0},
};

// Sample values around zero; the library keeps 16-bit samples unsigned.
std::vector<int> samples_of(SAMPLE *s)
{
    std::vector<int> v(s->len * (s->stereo ? 2 : 1));
    const unsigned short *data = static_cast<const unsigned short *>(s->data);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = (int)data[i] - 0x8000;
    return v;
}

TEST(Assets, SoundsLastTheirLengthAndPeakHighWithoutClipping)
{
    for (const ExpectedSound &want : SOUNDS) {
        SCOPED_TRACE(want.name);
        SAMPLE *s = *want.sound;
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->bits, 16);
        ASSERT_GT(s->freq, 0);
        double seconds = (double)s->len / s->freq;
        EXPECT_GE(seconds, want.min_seconds);
        EXPECT_LE(seconds, want.max_seconds);
        std::vector<int> v = samples_of(s);
        int peak = 0;
        for (int x : v)
            peak = std::max(peak, std::abs(x));
        EXPECT_GT(peak, 32768 / 2) << "too quiet";
        EXPECT_LT(peak, 32767) << "clipped";
    }
}

TEST(Assets, MunchingLoopsWithoutAClickAtTheSeam)
{
    std::vector<int> v = samples_of(mampf_sound);
    ASSERT_GT(v.size(), 2u);
    std::vector<int> steps;
    for (size_t i = 1; i < v.size(); ++i)
        steps.push_back(std::abs(v[i] - v[i - 1]));
    std::sort(steps.begin(), steps.end());
    int typical = steps[steps.size() * 9 / 10];
    EXPECT_LE(std::abs(v.front() - v.back()), std::max(typical, 64));
}

} // namespace
