// The desktop portal: whether this is a Wayland session, and the picture of
// the desktop through the portal's Screenshot interface, read from the file
// the portal writes and deleted at once.
#include "platform/portal.h"

#include "shell/fatal.h"

#include <gio/gio.h>
#include <libportal/portal.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Long enough for a person to answer the desktop's permission question.
static const unsigned PORTAL_PATIENCE_SECONDS = 60;
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
    xdp_portal_take_screenshot(portal, nullptr, XDP_SCREENSHOT_FLAG_NONE, cancellable, screenshot_taken, &request);
    guint timer = g_timeout_add_seconds(PORTAL_PATIENCE_SECONDS, give_up, &request);
    while (!request.answered) {
        g_main_context_iteration(nullptr, TRUE);
        if (request.timed_out && !g_cancellable_is_cancelled(cancellable))
            g_cancellable_cancel(cancellable);
    }
    if (!request.timed_out)
        g_source_remove(timer);
    g_object_unref(cancellable);

    PortalAnswer answer = UNREACHABLE;
    if (request.uri) {
        char *path = g_filename_from_uri(request.uri, nullptr, nullptr);
        if (path) {
            *file = path;
            answer = PICTURE;
        } else {
            *failure = std::string("the desktop portal's picture is not a local file (") + request.uri + ")";
        }
        g_free(path);
        g_free(request.uri);
        return answer;
    }
    if (request.timed_out) {
        *failure = "the desktop portal gave no picture within " + std::to_string(PORTAL_PATIENCE_SECONDS) + " s";
    } else if (request.error->domain == G_DBUS_ERROR) {
        g_dbus_error_strip_remote_error(request.error);
        *failure = std::string("no desktop portal takes screenshots here (") + request.error->message +
                   "): install xdg-desktop-portal and the portal of your desktop";
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

void take_portal_screenshot(int w, int h, std::vector<uint32_t> *rgb)
{
    std::string file = portal_picture_file();

    png_image png = {};
    png.version = PNG_IMAGE_VERSION;
    std::vector<png_byte> pixels;
    if (png_image_begin_read_from_file(&png, file.c_str())) {
        png.format = PNG_FORMAT_RGB;
        pixels.resize(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr))
            pixels.clear();
    }
    // The picture is ours alone: nothing of it stays on disk, read or not.
    std::remove(file.c_str());
    if (pixels.empty())
        fatal("cannot read the desktop portal's picture %s: %s", file.c_str(), png.message);

    // The portal's picture has the outputs' own pixels: on a scaled output
    // more than the X screen has. Each X pixel takes the one at its corner,
    // as the library's stretch_blit would.
    rgb->resize((size_t)w * h);
    for (int y = 0; y < h; ++y) {
        const png_byte *row = pixels.data() + (size_t)((long)y * png.height / h) * png.width * 3;
        for (int x = 0; x < w; ++x) {
            const png_byte *p = row + (size_t)((long)x * png.width / w) * 3;
            (*rgb)[(size_t)y * w + x] = (uint32_t)(p[0] << 16 | p[1] << 8 | p[2]);
        }
    }
}
