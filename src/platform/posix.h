// What the other platform files ask of the process's side.
#pragma once

// During start-up, while the stop signals are held back: one that has
// arrived meanwhile (a PIPE, which havoc may raise itself, aside), or 0.
int held_stop_signal();

// Whether other processes of this user may look into havoc's /proc entry
// and memory. Closed from the start; the desktop portal must look there to
// learn who asks it, so it is open only while the portal is asked, before
// any of the desktop's picture is in memory.
void keep_process_private(bool closed);
