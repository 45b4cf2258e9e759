// sway and the other wlroots desktops: the picture of the desktop through
// the compositor's screen-copy protocol, taken by grim and read from a
// pipe, so it never touches the disk.
#include "platform/wlroots.h"

#include "platform/portal.h"
#include "shell/fatal.h"

#include <wayland-client.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static const char SCREEN_COPY[] = "zwlr_screencopy_manager_v1";
static const int PPM_MAX_VALUE = 255;
static const size_t READ_CHUNK = 1 << 16;

static void global_announced(void *data, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    if (std::strcmp(interface, SCREEN_COPY) == 0)
        *static_cast<bool *>(data) = true;
}

static void global_removed(void *, wl_registry *, uint32_t)
{
}

bool compositor_copies_screen()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return false;
    static const wl_registry_listener listener = {global_announced, global_removed};
    bool offered = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offered;
}

// Everything a descriptor gives until its end.
static std::string read_all(int fd)
{
    std::string text;
    static char chunk[READ_CHUNK];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            text.append(chunk, (size_t)n);
        else if (n == 0 || errno != EINTR)
            return text;
    }
}

// grim, its output a pipe to us and its complaints another; it gets no
// signal held back, as havoc holds its stop signals during start-up.
static pid_t start_grim(int out, int err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char grim[] = "grim", type[] = "-t", ppm[] = "ppm", to_stdout[] = "-";
    char *argv[] = {grim, type, ppm, to_stdout, nullptr};
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, grim, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed == ENOENT)
        fatal("cannot photograph the Wayland desktop: grim is not installed; on sway and other wlroots desktops "
              "havoc takes the picture with it: install grim");
    if (failed)
        fatal("cannot photograph the Wayland desktop: cannot start grim: %s", std::strerror(failed));
    return pid;
}

void take_compositor_screenshot(int w, int h, std::vector<uint32_t> *rgb)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        fatal("cannot photograph the Wayland desktop: no pipe for grim: %s", std::strerror(errno));
    pid_t grim = start_grim(out[1], err[1]);
    close(out[1]);
    close(err[1]);
    std::string picture, complaint;
    try {
        picture = read_all(out[0]);
    } catch (const std::bad_alloc &) {
        kill(grim, SIGTERM);
        fatal("not enough memory for the desktop's picture from grim");
    }
    complaint = read_all(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(grim, &status, 0);

    // A binary PPM: "P6", width, height and 255, then the RGB bytes.
    int picture_w = 0, picture_h = 0, max_value = 0, header = 0;
    bool whole = std::sscanf(picture.c_str(), "P6 %d %d %d%n", &picture_w, &picture_h, &max_value, &header) == 3 &&
                 max_value == PPM_MAX_VALUE && picture_w > 0 && picture_h > 0 &&
                 picture.size() >= (size_t)header + 1 + (size_t)picture_w * picture_h * 3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !whole) {
        complaint = complaint.substr(0, complaint.find('\n'));
        if (complaint.empty())
            complaint = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : "it crashed";
        fatal("cannot photograph the Wayland desktop: grim gave no picture (%s)", complaint.c_str());
    }
    fit_picture((const uint8_t *)picture.data() + header + 1, picture_w, picture_h, w, h, rgb);
}
