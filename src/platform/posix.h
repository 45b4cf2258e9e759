// What the other platform files ask of the process's side.
#pragma once

// During start-up, while the stop signals are held back: one that has
// arrived meanwhile (a PIPE, which havoc may raise itself, aside), or 0.
int held_stop_signal();

// Whether the user's other processes may look into havoc's (its memory, its
// entries under /proc) and a crash may leave a dump: closed from the start,
// opened only while nothing of the desktop is in memory yet.
void let_user_processes_look_in(bool allowed);
