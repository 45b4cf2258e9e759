// The desktop portal: whether this is a Wayland session, and the picture of
// the desktop through the portal's Screenshot interface, read from the file
// the portal writes, which is off the disk before it is decoded.
#include "platform/portal.h"

#include "platform/platform.h"
#include "platform/posix.h"
#include "shell/fatal.h"

#include <gio/gio.h>
#include <libportal/portal.h>
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Long enough for a person to answer the desktop's permission question.
static const unsigned PORTAL_PATIENCE_SECONDS = 60;
static const unsigned STOP_LOOK_MS = 100;
// A portal that fails by itself (one desktop's does now and then while it
// reads the compositor's picture, the more often the busier the machine)
// is asked again, after a pause a little longer each time, this many times
// in all. The picture is asked for without a dialog, so no person can
// cancel it: a cancelled request is the portal's own failure, however long
// it took. A person may only be asked once whether applications may take
// screenshots, and a refusal comes back as a plain failure, as a portal's
// other failures do; but no person answers a question this quickly, so a
// failure as quick asked nobody (a refusal given earlier, kept) and asking
// again asks nobody either.
static const int PORTAL_TRIES = 10;
static const unsigned PORTAL_PAUSE_MS = 50;
static const gint64 QUICKEST_ANSWER_US = 700 * 1000;

bool wayland_session()
{
    const char *display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

struct ScreenshotRequest {
    bool answered = false;
    bool timed_out = false;
    char *uri = nullptr;
    GError *error = nullptr;
};

static void screenshot_taken(GObject *portal, GAsyncResult *result, gpointer data)
{
    auto *request = static_cast<ScreenshotRequest *>(data);
    request->uri = xdp_portal_take_screenshot_finish(XDP_PORTAL(portal), result, &request->error);
    request->answered = true;
}

static gboolean give_up(gpointer data)
{
    auto *request = static_cast<ScreenshotRequest *>(data);
    request->timed_out = true;
    return G_SOURCE_REMOVE;
}

// Only wakes the wait, to look for a stop signal.
static gboolean keep_looking(gpointer)
{
    return G_SOURCE_CONTINUE;
}

// Errors the bus itself gives when nothing there takes the portal's calls.
static bool no_portal_there(const GError *error)
{
    if (error->domain != G_DBUS_ERROR)
        return false;
    switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_UNKNOWN_METHOD:
    case G_DBUS_ERROR_UNKNOWN_INTERFACE:
    case G_DBUS_ERROR_UNKNOWN_OBJECT:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        return true;
    default:
        return false;
    }
}

// The local path a portal's URI names, or a message for a person: only a
// file of this computer is one havoc reads, and deletes.
static std::string local_path(const char *uri, std::string *failure)
{
    char *host = nullptr;
    char *path = g_filename_from_uri(uri, &host, nullptr);
    bool here = !host || !*host || std::strcmp(host, "localhost") == 0 || std::strcmp(host, g_get_host_name()) == 0;
    std::string file;
    if (path && here)
        file = path;
    else
        *failure = std::string("the desktop portal's picture ") + uri + " is not a file on this computer";
    g_free(path);
    g_free(host);
    return file;
}

// What the portal answered one request.
enum PortalAnswer {
    PICTURE,     // a file
    UNREACHABLE, // no bus, no portal, no answer in time, a picture elsewhere
    CANCELLED,   // the Screenshot request's response 1: cancelled
    FAILED,      // its response 2: a refusal, or a failure of the portal's own
};

// One request to the portal: its file name, or what went wrong in words
// for a person.
static PortalAnswer ask_portal(XdpPortal *portal, std::string *file, std::string *failure)
{
    GCancellable *cancellable = g_cancellable_new();
    ScreenshotRequest request;
    gint64 asked = g_get_monotonic_time();
    xdp_portal_take_screenshot(portal, nullptr, XDP_SCREENSHOT_FLAG_NONE, cancellable, screenshot_taken, &request);
    guint timer = g_timeout_add_seconds(PORTAL_PATIENCE_SECONDS, give_up, &request);
    // Stop signals are held back while havoc starts; the wait looks for one
    // now and then, as a person may press Ctrl+C while the desktop asks for
    // permission. Nothing on screen has changed yet: havoc simply ends.
    guint look = g_timeout_add(STOP_LOOK_MS, keep_looking, nullptr);
    while (!request.answered) {
        g_main_context_iteration(nullptr, TRUE);
        // An answer already here is taken first: its file must not stay behind.
        if (int signal_number = held_stop_signal()) {
            while (!request.answered && g_main_context_pending(nullptr))
                g_main_context_iteration(nullptr, FALSE);
            if (!request.answered)
                end_by_stop_signal(signal_number);
        }
        if (request.timed_out && !g_cancellable_is_cancelled(cancellable))
            g_cancellable_cancel(cancellable);
    }
    g_source_remove(look);
    if (!request.timed_out)
        g_source_remove(timer);
    g_object_unref(cancellable);

    PortalAnswer answer = UNREACHABLE;
    long waited_seconds = (long)((g_get_monotonic_time() - asked) / G_USEC_PER_SEC);
    if (request.uri) {
        *file = local_path(request.uri, failure);
        if (!file->empty())
            answer = PICTURE;
        g_free(request.uri);
        return answer;
    }
    if (request.timed_out) {
        *failure = "the desktop portal gave no picture within " + std::to_string(PORTAL_PATIENCE_SECONDS) + " s";
    } else if (g_error_matches(request.error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
        // The bus's own limit on the call, shorter than our patience.
        *failure = "the desktop portal did not answer within " + std::to_string(waited_seconds) +
                   " s: it may be hung; restart your session's portal (xdg-desktop-portal)";
    } else if (no_portal_there(request.error)) {
        g_dbus_error_strip_remote_error(request.error);
        *failure = std::string("no desktop portal takes screenshots here (") + request.error->message +
                   "): install xdg-desktop-portal and the portal of your desktop";
    } else if (g_dbus_error_is_remote_error(request.error)) {
        g_dbus_error_strip_remote_error(request.error);
        *failure = std::string("the desktop portal answered with an error (") + request.error->message + ")";
    } else {
        answer = g_error_matches(request.error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ? CANCELLED : FAILED;
        *failure = request.error->message;
    }
    g_error_free(request.error);
    return answer;
}

// The portal's picture as a file name; stops the program with a message
// that says what happened when there is none.
static std::string portal_picture_file()
{
    GError *error = nullptr;
    // libportal assumes a session bus; without one it would crash.
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::string reason = error->message;
        g_error_free(error);
        fatal("cannot photograph the Wayland desktop: there is no session bus to reach the desktop portal (%s)",
              reason.c_str());
    }
    XdpPortal *portal = xdp_portal_new();
    std::string file, failure;
    PortalAnswer answer = UNREACHABLE;
    int tries = 0;
    bool by_itself = true;   // no person answered: worth asking again
    while (answer != PICTURE && by_itself && tries < PORTAL_TRIES) {
        g_usleep((gulong)tries * PORTAL_PAUSE_MS * 1000);
        gint64 asked = g_get_monotonic_time();
        answer = ask_portal(portal, &file, &failure);
        by_itself = answer == CANCELLED ||
                    (answer == FAILED && g_get_monotonic_time() - asked < QUICKEST_ANSWER_US);
        ++tries;
    }
    g_object_unref(portal);
    g_object_unref(bus);
    if (answer == PICTURE)
        return file;

    const char *what = "cannot photograph the Wayland desktop";
    if (answer == UNREACHABLE)
        fatal("%s: %s", what, failure.c_str());
    if (!by_itself)
        fatal("%s: the desktop portal gave no picture (%s): if you refused applications the right to take "
              "screenshots, allow it in your desktop's privacy settings",
              what, failure.c_str());
    if (answer == CANCELLED)
        fatal("%s: the desktop portal failed to take a picture %d times in a row (%s): its log may say why", what,
              tries, failure.c_str());
    fatal("%s: the desktop portal gave no picture %d times in a row (%s): screenshots may be refused to "
          "applications in your desktop's privacy settings",
          what, tries, failure.c_str());
}

// What lies at a path that is no plain file, for a message.
static const char *kind_of(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a device";
}

// The portal's file, read whole and off the disk before anything is made of
// it, so whatever ends havoc next (a signal, a picture that does not decode,
// a lack of memory) leaves nothing of it behind. It is opened once, without
// following a link and without waiting on a pipe, and must be a plain file
// of this user; only then is that very file unlinked, and nothing else.
static std::vector<unsigned char> take_portal_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP)
        fatal("cannot read the desktop portal's picture: %s is a link, not a file", path.c_str());
    if (fd < 0)
        fatal("cannot read the desktop portal's picture %s: %s", path.c_str(), std::strerror(errno));
    struct stat file, named;
    if (fstat(fd, &file) != 0)
        fatal("cannot read the desktop portal's picture %s: %s", path.c_str(), std::strerror(errno));
    if (!S_ISREG(file.st_mode))
        fatal("cannot read the desktop portal's picture: %s is %s, not a file", path.c_str(), kind_of(file.st_mode));
    if (file.st_uid != getuid())
        fatal("cannot read the desktop portal's picture: %s belongs to another user, who may read it; remove it, "
              "or have it removed, and start havoc again", path.c_str());
    fchmod(fd, S_IRUSR | S_IWUSR);
    if (lstat(path.c_str(), &named) == 0 && named.st_dev == file.st_dev && named.st_ino == file.st_ino)
        unlink(path.c_str());

    std::vector<unsigned char> bytes;
    try {
        bytes.resize((size_t)file.st_size);
    } catch (const std::bad_alloc &) {
        fatal("not enough memory for the desktop portal's picture (%lld bytes)", (long long)file.st_size);
    }
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fatal("cannot read the desktop portal's picture %s: %s", path.c_str(),
                  n < 0 ? std::strerror(errno) : "it was cut short");
        got += (size_t)n;
    }
    close(fd);
    return bytes;
}

void take_portal_screenshot(int w, int h, std::vector<uint32_t> *rgb)
{
    // The portal reads /proc/PID/root to tell a sandboxed application from
    // a plain one, and refuses a process that is not dumpable. Nothing of
    // the desktop is in havoc's memory until the file is read.
    keep_process_private(false);
    std::string file = portal_picture_file();
    keep_process_private(true);
    std::vector<unsigned char> bytes = take_portal_file(file);

    png_image png = {};
    png.version = PNG_IMAGE_VERSION;
    std::vector<png_byte> pixels;
    try {
        if (png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
            png.format = PNG_FORMAT_RGB;
            pixels.resize(PNG_IMAGE_SIZE(png));
            if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr))
                pixels.clear();
        }
    } catch (const std::bad_alloc &) {
        png_image_free(&png);
        fatal("not enough memory for the desktop portal's picture (%ux%u)", png.width, png.height);
    }
    if (pixels.empty())
        fatal("cannot read the desktop portal's picture %s: %s", file.c_str(), png.message);
    fit_picture(pixels.data(), (int)png.width, (int)png.height, w, h, rgb);
}

// The compositor's picture has the outputs' own pixels: on a scaled output
// more than the X screen has. Each X pixel takes the one at its corner, as
// the library's stretch_blit would.
void fit_picture(const uint8_t *picture, int picture_w, int picture_h, int w, int h, std::vector<uint32_t> *rgb)
{
    try {
        rgb->resize((size_t)w * h);
    } catch (const std::bad_alloc &) {
        fatal("not enough memory for the desktop's picture (%dx%d)", w, h);
    }
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = picture + (size_t)((long)y * picture_h / h) * picture_w * 3;
        for (int x = 0; x < w; ++x) {
            const uint8_t *p = row + (size_t)((long)x * picture_w / w) * 3;
            (*rgb)[(size_t)y * w + x] = (uint32_t)(p[0] << 16 | p[1] << 8 | p[2]);
        }
    }
}
