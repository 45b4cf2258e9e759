// The outer loop: the palette hands over a tool, tools hand over to each
// other by number key, Escape goes back to the palette, and the palette's
// "quit" ends it. The lightsaber's switch sounds are played here, between
// two tools, because they depend on how the lightsaber was reached.
#include "shell/outer_loop.h"

#include "palette/palette.h"
#include "shell/assets.h"
#include "shell/scene.h"
#include "tools/bat.h"
#include "tools/lady.h"
#include "tools/laser.h"
#include "tools/lightsaber.h"

static void run_tool(int tool)
{
    switch (tool) {
    case TOOL_BAT: run_bat(); break;
    case TOOL_SABER: run_saber(); break;
    case TOOL_LASER: run_laser(); break;
    case TOOL_LADY: run_lady(); break;
    }
}

// Called after a tool returned: prev_tool is the tool that just ran, or -1
// when the palette handed it over, and current_tool is what comes next. A
// lightsaber handed over by the palette therefore switches on and off
// silently; one reached by number key switches on, and then off, audibly.
static void play_switch_sound(int prev_tool)
{
    if (prev_tool == current_tool)
        return;
    if (prev_tool == TOOL_SABER)
        play_at_mouse(saber_off_sound);
    else if (current_tool == TOOL_SABER)
        play_at_mouse(saber_on_sound);
}

void run_outer_loop()
{
    current_tool = run_palette();
    while (current_tool >= 0) {
        int prev_tool = NO_TOOL;
        step_deadline = 0;
        while (current_tool >= 0) {
            run_tool(current_tool);
            play_switch_sound(prev_tool);
            prev_tool = current_tool;
        }
        current_tool = run_palette();
    }
}
