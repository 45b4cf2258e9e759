// The lady, tool 3. She walks in a straight line at a steady pace, turned
// the way she goes, and eats a chain of black discs into the picture. Off the
// screen she turns toward a random point on it; a click turns her toward the
// pointer. Her munching loops while the tool is active and follows her from
// left to right.
#include "tools/lady.h"

#include "shell/assets.h"
#include "shell/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

const int lady_sequence[] = {0, 1, 2, 1, -1};
int lady_step = 0;

// Walking: one stride of LADY_STRIDE pixels per animation step, a step every
// LADY_PERIOD ticks.
static const int LADY_PERIOD = 5;
static const float LADY_STRIDE = 4.0f;

// Her bite: a disc centred LADY_MOUTH pixels right of and below her corner.
static const double LADY_MOUTH = 13.0;
static const int LADY_BITE_RADIUS = 13;
static const int EATEN = 0;   // colour value 0: black

// The munching: volume one above the library's top, which it plays as full;
// the sample's own pitch; looping until stopped.
static const int MUNCH_VOLUME = 256;
static const int LOOP = 1;

// Her corner can be off the screen, so her pan is kept on the library's scale.
static const int PAN_FULL_LEFT = 0;
static const int PAN_FULL_RIGHT = 255;

// Her state for one visit of the tool.
struct Lady {
    float x, y;     // top-left corner of the unturned sprite
    float dx, dy;   // one stride along her heading
    fixed angle;    // her heading, which turns the sprite (0 along +x, 64 along +y)
};

int lady_pan(float x)
{
    return std::clamp(pan_at((int)x), PAN_FULL_LEFT, PAN_FULL_RIGHT);
}

// Turns her toward (px, py). The point only gives the line: she walks on
// through it. A point on her own corner gives no line at all, so she then
// keeps the heading she has.
static void aim_at(Lady *lady, int px, int py)
{
    float dx = px - lady->x;
    float dy = py - lady->y;
    float length = (float)std::sqrt((double)dx * dx + (double)dy * dy);
    if (length == 0.0f)
        return;
    float strides = length / LADY_STRIDE;
    lady->dx = dx / strides;
    lady->dy = dy / strides;
    lady->angle = fixatan2(ftofix(lady->dy), ftofix(lady->dx));
}

// Two separate draws, x first: the order fixes the series of headings.
static void aim_at_random_point(Lady *lady)
{
    int px = std::rand() % SCREEN_W;
    int py = std::rand() % SCREEN_H;
    aim_at(lady, px, py);
}

// One stride, the munching moved after her, and a new random heading
// whenever her corner is off the screen. The comparisons are strict,
// so she turns back at the left and top edges as soon as she crosses them,
// but at the right and bottom only once she is wholly out of sight.
static void walk(Lady *lady)
{
    lady->x += lady->dx;
    lady->y += lady->dy;
    adjust_sample(mampf_sound, MUNCH_VOLUME, lady_pan(lady->x), OWN_PITCH, LOOP);
    if (lady->x > SCREEN_W || lady->x < 0 || lady->y > SCREEN_H || lady->y < 0)
        aim_at_random_point(lady);
}

// A step when one is due: her next frame, and a stride. Back at the first
// frame the deadline stays, so the next pass steps at once.
static void step_when_due(Lady *lady)
{
    StepResult step = take_step(lady_sequence, &lady_step, LADY_PERIOD);
    if (step == STEP_AT_END)
        lady_step = 0;
    if (step != STEP_NOT_DUE)
        walk(lady);
}

// A press turns her toward the pointer, once: holding the button does not
// drag her along. `pressed` remembers a press already answered.
static void answer_click(Lady *lady, bool *pressed)
{
    if (!(mouse_b & LEFT_BUTTON)) {
        *pressed = false;
        return;
    }
    if (*pressed)
        return;
    *pressed = true;
    aim_at(lady, mouse_x, mouse_y);
}

// She eats, moving or not: a black disc into the picture itself.
static void bite(const Lady &lady)
{
    circlefill(desktop_bmp, (int)(lady.x + LADY_MOUTH), (int)(lady.y + LADY_MOUTH), LADY_BITE_RADIUS,
               EATEN);
}

void run_lady()
{
    // She starts in the top-left corner, bound for a random point and
    // munching. Should that point be the corner itself she keeps the heading
    // she is given here, along the top edge.
    Lady lady = {0.0f, 0.0f, LADY_STRIDE, 0.0f, 0};
    bool click_latch = false;
    aim_at_random_point(&lady);
    play_sample(mampf_sound, MUNCH_VOLUME, lady_pan(lady.x), OWN_PITCH, LOOP);

    for (;;) {
        // Escape: back to the palette.
        if (escape_or_stop()) {
            current_tool = NO_TOOL;
            break;
        }
        // A fresh copy of the picture. No mouse poll: the pointer is read as
        // the library leaves it.
        copy_background();
        step_when_due(&lady);              // her next frame and a stride
        answer_click(&lady, &click_latch); // after the edge, so a click wins
        // The copy above was taken first, so the bite shows from the next
        // frame on, under her.
        bite(lady);
        // Her frame, turned to her heading about its centre, and the pointer
        // over her.
        rotate_sprite(back_buffer, lady_frames[lady_sequence[lady_step]], (int)lady.x, (int)lady.y,
                      lady.angle);
        draw_sprite(back_buffer, pointer_image, mouse_x, mouse_y);
        show_frame();
        if (switch_tool_by_key())          // a number key: on to that tool
            break;
    }
    // Either way out, the munching stops.
    stop_sample(mampf_sound);
}
