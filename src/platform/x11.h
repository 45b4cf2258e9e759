// What the process's side (posix.cpp) asks of the X11 side.
#pragma once

// From a crash's signal handler: puts the desktop's pointer back where the
// user left it, with nothing but one write to a connection opened for it at
// start-up. Does nothing when the pointer was never noted.
void restore_pointer_from_crash();
