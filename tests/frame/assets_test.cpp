// The data file as the tools see it once loaded: every picture with the
// geometry its tool draws by, hot spots where the pointer sits, clean mask
// edges, a cap whose mirror closes the strip, and sounds that play.
#include "frame/harness.h"

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
    {"bat.tga", &bat_image, 800, 120},
    {"crack.tga", &crack_image, 121, 121},
    {"saber.tga", &saber_image, 1290, 245},
    {"saberhole.tga", &saber_hole_image, 28, 24},
    {"laser.tga", &laser_image, 692, 163},
    {"laserhole.tga", &laser_hole_image, 28, 28},
    {"lady.tga", &lady_sheet, 87, 29},
    {"icon00.tga", &palette_icons[0], 64, 64},
    {"icon01.tga", &palette_icons[1], 64, 64},
    {"icon02.tga", &palette_icons[2], 64, 64},
    {"icon03.tga", &palette_icons[3], 64, 64},
    {"iconend.tga", &palette_icons[4], 64, 64},
    {"cap.tga", &palette_cap, 16, 64},
    {"mirrored cap", &palette_cap_mirrored, 16, 64},
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
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(lady_frames[i], nullptr);
        EXPECT_TRUE(is_sub_bitmap(lady_frames[i]));
        EXPECT_EQ(lady_frames[i]->w, 29);
        EXPECT_EQ(lady_frames[i]->h, 29);
        for (int y = 0; y < 29; ++y)
            for (int x = 0; x < 29; ++x)
                ASSERT_EQ(rgb_at(lady_frames[i], x, y), rgb_at(lady_sheet, 29 * i + x, y)) << x << "," << y;
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
    {"bat rest frame, grip", &bat_image, 0 * 160 + 140, 32, true},
    {"bat back-swing, grip", &bat_image, 1 * 160 + 140, 32, true},
    {"bat further back, grip", &bat_image, 2 * 160 + 140, 32, true},
    {"bat forward, grip", &bat_image, 3 * 160 + 140, 32, true},
    {"bat impact, grip", &bat_image, 4 * 160 + 140, 32, true},
    {"crack centre", &crack_image, 60, 60, true},
    {"unlit saber, no blade at the tip", &saber_image, 0 * 258 + 168, 172, false},
    {"lit saber, blade at the tip", &saber_image, 4 * 258 + 168, 172, true},
    {"saber burn centre", &saber_hole_image, 14, 12, true},
    {"laser hole centre", &laser_hole_image, 14, 14, true},
    {"lady's back, shut", &lady_sheet, 0 * 29 + 5, 13, true},
    {"lady's back, open", &lady_sheet, 2 * 29 + 5, 13, true},
    {"lady's jaws shut, meeting ahead of her head", &lady_sheet, 0 * 29 + 26, 13, true},
    {"lady's jaws wide, a gap between them", &lady_sheet, 2 * 29 + 26, 13, false},
    {"pointer tip", &pointer_image, 0, 0, true},
};

TEST(Assets, HotSpotsSitWhereThePointerHoldsThem)
{
    for (const Spot &s : SPOTS)
        EXPECT_EQ(!transparent(*s.image, s.x, s.y), s.solid) << s.what;
    // The gun hangs from the pointer: something of it within a few pixels of
    // every frame's top-left corner.
    for (int frame = 0; frame < 4; ++frame) {
        bool near_corner = false;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                near_corner |= !transparent(laser_image, frame * 173 + x, y);
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
    const Strip strips[] = {{"bat", bat_image, 160, 5}, {"saber", saber_image, 258, 5},
                            {"laser", laser_image, 173, 4}, {"lady", lady_sheet, 29, 3}};
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
    for (int i = 0; i < 5; ++i)
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
