// The door to the desktop: everything havoc needs of the system it runs on,
// in the order main calls it. Behind the door each platform keeps one file
// per thing it talks to; in front of it nothing knows which platform it is.
// Start-up, shutdown and the fatal ending come through here, and two steps of
// every frame, which the scene's frame skeleton takes for the loops: the
// loops themselves talk to the game library alone.
#pragma once

// First of all, before anything else is opened or started: the process can
// no longer be locked up or made to talk through someone else's channel.
// Whatever havoc writes to stderr reaches the person who started it and no
// connection opened later; stop signals that the starter ignored stay
// ignored; libraries below the game library keep their own complaints off
// stderr, which carries havoc's words only.
void prepare_process();

// Before the game library starts, while the desktop is still as the user
// left it: photographs the whole desktop, every monitor, and keeps the
// picture; notes the monitors and where the pointer is (monitors,
// desktop_pointer_x, desktop_pointer_y in the scene). Stops the program
// with a message when there is no desktop to reach or no picture to take.
void capture_desktop();

// Right after the library has started: from here on a request to stop from
// outside (a stop signal, a window's close request, the library's emergency
// key) only sets stop_signal, which the loops see and end by; nothing the
// library put in place can end the program without the normal shutdown.
void catch_stop_signals();

// After the library starts: the size of havoc's screen, the whole desktop
// with every monitor. Stops the program with a message when it cannot be
// read.
void screen_size(int *w, int *h);

// After the library starts, before the graphics mode is set: readies the
// library's window to cover the whole desktop and to show the photograph
// from the moment it appears, so the screen looks unchanged; the window
// will get the keyboard. Returns the library's graphics driver that draws
// into that window, for set_gfx_mode. No display mode is ever changed.
int dress_screen_window();

// Right after the graphics mode is set: the memory behind the frame, if the
// platform shares it with anyone, is readable by this user only and goes
// with havoc however havoc ends.
void keep_frame_private();

// Once the graphics mode and desktop_bmp exist: converts the kept picture
// into desktop_bmp at the screen's depth, shows it, and drops the picture;
// the keyboard and the pointer are havoc's from here on. Stops the program
// with a message when they cannot be had.
void finish_desktop_capture();

// Once the mouse is installed: where havoc's own pointer starts. Where havoc
// may move the desktop's pointer, mid-monitor on the monitor the user's
// pointer is on (mid-screen would be the bezel between two); in a Wayland
// session, where it may not, right where the user's pointer is, so havoc's
// arrow and the first click are where the person sees the pointer.
void pointer_start(int *x, int *y);

// Every frame, first thing in the pass, in every loop: whatever the hand did
// before the pass began is in the library's mouse_x, mouse_y, mouse_b
// and key[] when the pass reads them, handled the library's own way (its key
// repeat, and after position_mouse its pointer moving on from where it was
// put until it brings the desktop's pointer along). When nothing has come it
// costs a look at the connection and allocates nothing. Does nothing where
// the library's drivers already hand input over as it arrives.
void pump_input();

// Right after every show step: what was just drawn goes to the display now,
// not whenever the library next talks to it.
void present_frame();

// At shutdown, before the library lets go of the screen: the window leaves
// the screen as it is, so nothing the library draws on its way out shows;
// nothing may bring it back.
void hide_screen_window();

// After the library has shut down, on every way out (quitting, a fatal
// error, a stop signal): puts the desktop's pointer back where the user left
// it. Does nothing when the desktop was never reached.
void restore_pointer();

// After the normal shutdown, when a stop request ended the loops: ends the
// process the way that request means on this platform, so whoever started
// havoc sees why it ended.
[[noreturn]] void end_by_stop_signal(int signal_number);

// Once start-up has failed and the display is back: shows the one-line
// message, already printed on stderr, wherever else the person will see it.
void show_fatal_message(const char *message);
