// The Windows platform: the desktop photograph through GDI, the window over
// every monitor that shows it, the monitors and the user's pointer, the
// window's close request and the session's end in place of stop signals, and
// fatal messages in a box. This is the only file of the Windows build that
// talks to Windows; everything else talks only to the game library.
//
// havoc covers the desktop the way it does on X11: no display mode is ever
// changed. The photograph is a GDI copy of the whole virtual screen, every
// monitor's pixels, taken before the library starts. The library's windowed
// GDI driver draws into a borderless, topmost window of our own making over
// that same virtual screen, at the desktop's depth, so its frames reach the
// screen pixel for pixel on every monitor. (Its DirectDraw window driver
// showed no frame at all over two monitors under Wine, and takes only
// widths that are a multiple of 4.) The
// window is created hidden, with the photograph as its background, and is
// shown only once the library holds the photograph too: the first thing it
// paints is the desktop. The program declares itself aware of each
// monitor's scaling (windows/havoc.manifest.in), so every coordinate here is
// a real pixel.
#include "platform/platform.h"

#include "shell/fatal.h"
#include "shell/scene.h"

#include <winalleg.h>

#include <csignal>
#include <cstdlib>

// The virtual screen, the rectangle that holds every monitor, in Windows'
// screen coordinates: its origin is the primary monitor's top-left corner,
// so a monitor left of or above the primary puts it at negative x or y.
static int virtual_x, virtual_y, virtual_w, virtual_h;

// The picture between the two halves, held by GDI: a memory context with the
// bitmap the virtual screen was copied into selected into it, and a brush
// that paints the same picture as the window's background.
static HDC capture_dc;
static HBITMAP capture_bitmap;
static HBRUSH photograph_brush;
static bool pointer_noted;   // desktop_pointer_x and _y hold the user's pointer

// Set once the loops have ended and the window is hidden: the session's end
// waits for it before Windows may end the process.
static HANDLE shutdown_begun;
// The window is hidden for good: the library may no longer show it.
static bool window_retired;

static const char WINDOW_CLASS[] = "havoc";
static const char WINDOW_TITLE[] = "havoc";
// The name of the icon in the program's resources (windows/havoc.rc.in).
static const char ICON_NAME[] = "allegro_icon";

// The kept picture has 8 bits a channel whatever the desktop's depth. The
// library reads a 16-bit picture back as 5 bits a channel and so would drop
// the lowest bit of green from a 5-6-5 desktop; from 32 bits its conversion
// to the screen's depth gives every desktop pixel back exactly.
static const int KEPT_BITS = 32;

// How long the session's end waits for havoc to wind down before it lets
// Windows go on; Windows itself gives a program about 5 seconds.
static const DWORD SESSION_END_WAIT_MS = 4000;

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

// One monitor of EnumDisplayMonitors, as an area of havoc's screen.
static BOOL CALLBACK note_monitor(HMONITOR, HDC, LPRECT area, LPARAM)
{
    monitors.push_back({(int)area->left - virtual_x, (int)area->top - virtual_y, (int)(area->right - area->left),
                        (int)(area->bottom - area->top)});
    return TRUE;
}

// Runs on the library's window thread, in place of its own window: a
// borderless window over the whole virtual screen, above every other, that
// the library then drives through its own window procedure. It starts
// hidden; its background is the photograph, so whatever Windows paints
// first when it appears is the desktop.
static HWND create_window(WNDPROC library_procedure)
{
    HINSTANCE program = GetModuleHandle(nullptr);
    WNDCLASSEX window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = library_procedure;
    window_class.hInstance = program;
    window_class.hIcon = LoadIcon(program, ICON_NAME);
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.hbrBackground = photograph_brush;
    window_class.lpszClassName = WINDOW_CLASS;
    RegisterClassEx(&window_class);
    return CreateWindowEx(WS_EX_TOPMOST | WS_EX_APPWINDOW, WINDOW_CLASS, WINDOW_TITLE, WS_POPUP, virtual_x,
                          virtual_y, virtual_w, virtual_h, nullptr, nullptr, program, nullptr);
}

// Windows sends a program no stop signals; what stands for them is a request
// to close its window (Alt+F4, which the library's keyboard turns into one),
// passed on here by the library, and the session's end. Either stops havoc
// as TERM does on X11.
static void note_close_request()
{
    stop_signal.store(SIGTERM);
}

// Once Windows has said the session ends, it may end the process as soon as
// the window's answer returns: the answer waits until havoc's loops have
// ended and its window is hidden, still serving what the main thread asks
// of this thread meanwhile.
static void wait_for_shutdown()
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD waited = GetTickCount() - start;
        if (waited >= SESSION_END_WAIT_MS)
            return;
        DWORD woken = MsgWaitForMultipleObjects(1, &shutdown_begun, FALSE, SESSION_END_WAIT_MS - waited,
                                                QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        PeekMessage(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Seen by the window before the library's own procedure, which would
// otherwise lock havoc up or end it on the spot. 0 when handled here, with
// the answer in *answer.
//
// The library's GDI driver copies its frame to the window from a timer
// callback, which waits for the driver's lock while the timer's own lock is
// held; when the window loses the focus, the library takes the driver's lock
// and then stops a timer (the held key's repeat, or that same frame timer
// when havoc next draws), which waits for the timer's lock: each thread
// would wait for the other for ever. So the window never tells the library
// it lost the focus. Windows takes the keyboard and mouse from it anyway
// and the library asks for them again when the window comes back; havoc
// just goes on drawing behind whatever took the focus.
static int see_message_first(HWND, UINT message, WPARAM wparam, LPARAM lparam, int *answer)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE)
            return 1;
        *answer = 0;
        return 0;
    // Once hidden for good the window stays hidden and inactive: the library
    // shows it again as it lets go of it.
    case WM_WINDOWPOSCHANGING:
        if (window_retired) {
            WINDOWPOS *change = (WINDOWPOS *)lparam;
            change->flags = (change->flags & ~SWP_SHOWWINDOW) | SWP_NOACTIVATE;
        }
        return 1;
    // The session's end, which the library leaves to Windows' default.
    case WM_QUERYENDSESSION:
        note_close_request();
        *answer = TRUE;
        return 0;
    case WM_ENDSESSION:
        if (wparam) {
            note_close_request();
            wait_for_shutdown();
        }
        *answer = 0;
        return 0;
    }
    return 1;
}

// Before the library has a window: the monitors, where the pointer is, and
// every monitor's pixels copied, as they are, into a bitmap of the virtual
// screen's extent. The library makes its window as it starts: it is told
// now to make ours, and to let us see its messages first.
void capture_desktop()
{
    virtual_x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    virtual_y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    virtual_w = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    virtual_h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    EnumDisplayMonitors(nullptr, nullptr, note_monitor, 0);
    POINT pointer;
    if (GetCursorPos(&pointer)) {
        desktop_pointer_x = pointer.x - virtual_x;
        desktop_pointer_y = pointer.y - virtual_y;
        pointer_noted = true;
    }

    // The screen's context spans every monitor, in screen coordinates.
    HDC screen_dc = GetDC(nullptr);
    if (!screen_dc)
        fatal("cannot reach the desktop's picture: Windows gave no drawing context for it");
    capture_dc = CreateCompatibleDC(screen_dc);
    capture_bitmap = create_full_colour_bitmap(screen_dc, virtual_w, virtual_h);
    SelectObject(capture_dc, capture_bitmap);
    BOOL copied = BitBlt(capture_dc, 0, 0, virtual_w, virtual_h, screen_dc, virtual_x, virtual_y, SRCCOPY);
    ReleaseDC(nullptr, screen_dc);
    if (!capture_dc || !capture_bitmap || !copied)
        fatal("cannot copy the desktop's picture (%dx%d)", virtual_w, virtual_h);
    photograph_brush = CreatePatternBrush(capture_bitmap);

    shutdown_begun = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    win_set_wnd_create_proc(create_window);
    win_set_msg_pre_proc(see_message_first);
}

// The whole virtual screen, every monitor.
void screen_size(int *w, int *h)
{
    *w = virtual_w;
    *h = virtual_h;
}

void catch_stop_signals()
{
    set_close_button_callback(note_close_request);
}

// The window itself was made as the library started (create_window); what
// remains is the driver that draws into it, leaving the display's mode alone.
int dress_screen_window()
{
    return GFX_GDI;
}

// The GDI driver's frame is memory of this process alone: there is nothing
// shared with a display server to protect.
void keep_frame_private()
{
}

// The library converts the kept picture to the screen's depth: it copies
// through a bitmap made like the one selected into capture_dc, so it too has
// full colour. The frame goes into the library's screen while the window is
// still hidden; then the window comes out over every monitor, paints the
// photograph as its background and the same picture from the library, and
// takes the keyboard.
void finish_desktop_capture()
{
    clear_bitmap(desktop_bmp);
    blit_from_hdc(capture_dc, desktop_bmp, 0, 0, 0, 0, virtual_w, virtual_h);
    blit(desktop_bmp, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);

    HWND window = win_get_window();
    SetWindowPos(window, HWND_TOPMOST, virtual_x, virtual_y, SCREEN_W, SCREEN_H, SWP_SHOWWINDOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
    // The library reads the pointer relative to where it last saw its
    // window move while active, which it placed mid-screen itself: it is
    // told where the window is now.
    SendMessage(window, WM_MOVE, 0, MAKELPARAM(virtual_x, virtual_y));

    // From here on havoc draws the window itself: the background would only
    // flash the undamaged desktop wherever part of the window is uncovered.
    // The context goes before its bitmap: a bitmap still selected into a
    // live context cannot be deleted.
    SetClassLongPtr(window, GCLP_HBRBACKGROUND, 0);
    DeleteObject(photograph_brush);
    DeleteDC(capture_dc);
    DeleteObject(capture_bitmap);
}

// The window goes before the library lets go of the screen, which it
// clears to black on the way out; and the session's end may now let Windows
// go on. The library's timer stops first of all: its GDI driver stops the
// frame timer while holding the lock that timer's callback waits for (see
// see_message_first), and havoc's tick is no longer needed.
void hide_screen_window()
{
    remove_timer();
    window_retired = true;
    if (HWND window = win_get_window())
        ShowWindow(window, SW_HIDE);
    if (shutdown_begun)
        SetEvent(shutdown_begun);
}

void pointer_start(int *x, int *y)
{
    ScreenArea home = monitor_at(desktop_pointer_x, desktop_pointer_y);
    *x = home.x + home.w / 2;
    *y = home.y + home.h / 2;
}

void restore_pointer()
{
    if (pointer_noted)
        SetCursorPos(desktop_pointer_x + virtual_x, desktop_pointer_y + virtual_y);
}

// The library's DirectInput drivers run on a thread of their own that wakes
// for each change of the mouse or the keyboard, and a DirectDraw blit is on
// the screen when it returns: there is nothing to hurry.
void pump_input()
{
}

void present_frame()
{
}

// A window closed on request is an ordinary end on Windows, which has no
// death by signal to report.
void end_by_stop_signal(int)
{
    std::exit(EXIT_SUCCESS);
}

// The library shows its boxes only while it runs, and fatal has just shut it
// down to give the desktop back, so it is started once more for the box, in
// a window of its own making.
void show_fatal_message(const char *message)
{
    win_set_wnd_create_proc(nullptr);
    win_set_msg_pre_proc(nullptr);
    if (allegro_init() != 0)
        return;
    allegro_message("%s\n", message);
    allegro_exit();
}
