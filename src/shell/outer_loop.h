// The outer loop: palette, tools, palette, ... until the palette says quit.
#pragma once
void run_outer_loop();
