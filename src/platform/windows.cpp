// The Windows platform: the desktop photograph through GDI, the user's
// pointer, the window's close request in place of stop signals, and fatal
// messages in a box. This is the only file of the Windows build that talks
// to Windows; everything else talks only to the game library.
#include "platform/platform.h"

#include "shell/fatal.h"
#include "shell/scene.h"

#include <winalleg.h>

#include <csignal>
#include <cstdlib>

// The picture between the two halves, held by GDI: a memory context made
// from the desktop's, with the bitmap the desktop was copied into still
// selected into it.
static HDC capture_dc;
static HBITMAP capture_bitmap;
static bool pointer_noted;   // desktop_pointer_x and _y hold the user's pointer

// The kept picture has 8 bits a channel whatever the desktop's depth. The
// library reads a 16-bit picture back as 5 bits a channel and so would drop
// the lowest bit of green from a 5-6-5 desktop; from 32 bits its conversion
// to the screen's depth gives every desktop pixel back exactly.
static const int KEPT_BITS = 32;

// A top-down bitmap of w x h full-colour pixels.
static HBITMAP create_full_colour_bitmap(HDC dc, int w, int h)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = KEPT_BITS;
    info.bmiHeader.biCompression = BI_RGB;
    void *pixels;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
}

// A Windows program has no descriptors to reopen and no stop signals to
// note, and without a console its stderr goes nowhere it could harm.
void prepare_process()
{
}

// Before the library has a window: the desktop window's context copied,
// as it is, into a bitmap of the desktop's own extent, and the pointer
// noted. The full-screen mode covers the primary monitor, whose top-left
// corner is the desktop's origin: that is all of havoc's screen, so
// monitors stays empty and the whole screen counts as the one monitor.
void capture_desktop()
{
    POINT pointer;
    if (GetCursorPos(&pointer)) {
        desktop_pointer_x = pointer.x;
        desktop_pointer_y = pointer.y;
        pointer_noted = true;
    }
    HWND desktop = GetDesktopWindow();
    HDC desktop_dc = GetDC(desktop);
    if (!desktop_dc)
        fatal("cannot reach the desktop's picture: Windows gave no drawing context for it");
    RECT extent;
    GetWindowRect(desktop, &extent);
    capture_dc = CreateCompatibleDC(desktop_dc);
    capture_bitmap = create_full_colour_bitmap(desktop_dc, extent.right, extent.bottom);
    SelectObject(capture_dc, capture_bitmap);
    BOOL copied = BitBlt(capture_dc, 0, 0, extent.right, extent.bottom, desktop_dc, 0, 0, SRCCOPY);
    ReleaseDC(desktop, desktop_dc);
    if (!capture_dc || !capture_bitmap || !copied)
        fatal("cannot copy the desktop's picture (%ldx%ld)", extent.right, extent.bottom);
}

// The library converts the kept picture to the screen's depth: it copies
// through a bitmap made like the one selected into capture_dc, so it too
// has full colour. The context goes before its bitmap: a bitmap still
// selected into a live context cannot be deleted.
void finish_desktop_capture()
{
    blit_from_hdc(capture_dc, desktop_bmp, 0, 0, 0, 0, desktop_bmp->w, desktop_bmp->h);
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    DeleteDC(capture_dc);
    DeleteObject(capture_bitmap);
}

// Windows sends a program no stop signals; what stands for them is a request
// to close its window (Alt+F4, the session ending), which the library passes
// on here and otherwise ignores. It stops havoc as TERM does on X11.
static void note_close_request()
{
    stop_signal.store(SIGTERM);
}

void catch_stop_signals()
{
    set_close_button_callback(note_close_request);
}

void restore_pointer()
{
    if (pointer_noted)
        SetCursorPos(desktop_pointer_x, desktop_pointer_y);
}

// DirectDraw's full-screen surfaces belong to this process alone: there is
// no memory shared with a display server to protect.
void keep_frame_private()
{
}

// A window closed on request is an ordinary end on Windows, which has no
// death by signal to report.
void end_by_stop_signal(int)
{
    std::exit(EXIT_SUCCESS);
}

// DirectDraw's exclusive full-screen mode covers the whole desktop and
// takes the keyboard.
int dress_screen_window()
{
    return GFX_AUTODETECT_FULLSCREEN;
}

// The library shows its boxes only while it runs, and fatal has just shut it
// down to give the desktop back, so it is started once more for the box.
void show_fatal_message(const char *message)
{
    if (allegro_init() != 0)
        return;
    allegro_message("%s\n", message);
    allegro_exit();
}
