// What the other platform files ask of the process's side.
#pragma once

// During start-up, while the stop signals are held back: one that has
// arrived meanwhile (a PIPE, which havoc may raise itself, aside), or 0.
int held_stop_signal();
