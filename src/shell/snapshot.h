// The door to the desktop's platform: the photograph of the user's desktop,
// taken in two halves around the library's start, the full-screen window
// that shows it, the pointer given back at the end, and the few other things
// havoc needs of the platform: a process that no library can lock the user
// out of, stop signals that end through the normal shutdown, a frame that no
// other user can read, and a fatal message the person sees. Each platform's
// snapshot sources implement all of it.
#pragma once

// First of all: descriptors 0 to 2 open (onto the null device where they
// were closed), so no connection the libraries make later can take one of
// them and receive what is written to stderr; a note of the stop signals
// the program was started with ignored (they stay ignored); and the sound
// library's own complaints kept off stderr, which carries havoc's words only.
void prepare_process();

// Before the library starts: photographs the whole root window on a
// connection of its own and keeps the picture, and notes the monitors and
// where the pointer is (monitors, desktop_pointer_x, desktop_pointer_y); in
// a Wayland session, whose X root shows nothing, asks the desktop portal for
// the picture instead. Stops the program with a message when there is no
// display or no picture.
void capture_desktop();

// Right after the library has started, which puts in handlers of its own
// that can end the program with no cleanup: from here on INT, TERM, QUIT and
// HUP only set stop_signal (see scene.h). The library's emergency key,
// Ctrl+Alt+End, sends TERM, so it takes the same way out.
void catch_stop_signals();

// Once the graphics mode is set: the memory the frame shares with the X
// server becomes readable by this user only, and is marked to go as soon as
// both havoc and the server let go of it, however havoc ends.
void keep_frame_private();

// Once the graphics mode and desktop_bmp exist: converts the kept picture
// into desktop_bmp at the screen's depth, shows it, and drops the picture.
// On an X desktop it then takes the keyboard and the pointer for havoc, and
// stops the program with a message when another program holds them; in a
// Wayland session it first asks the compositor once more to keep the window
// full screen.
void finish_desktop_capture();

// After the library starts, before the graphics mode is set: the library's
// graphics driver whose screen covers the whole desktop and gets the
// keyboard. Its window shows the photograph from the moment it appears,
// what havoc draws staying hidden behind it until finish_desktop_capture.
// On an X desktop the window is kept from the window manager; in a Wayland
// session it is one the compositor makes full screen and focuses.
int full_screen_driver();

// After the library has shut down: puts the desktop's pointer back where
// the user left it. Does nothing when the desktop was never reached.
void restore_pointer();

// After the normal shutdown, when a stop signal ended the loops: ends the
// process by that same signal, so whoever started havoc sees why it ended.
[[noreturn]] void end_by_stop_signal(int signal_number);

// Once start-up has failed and the display is back: shows the one-line
// message, already printed on stderr, wherever else the person will see it.
// A Windows program has no console, so there it comes in a box to click
// away; an X11 program's stderr is enough.
void show_fatal_message(const char *message);
