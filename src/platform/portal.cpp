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

// The portal's answer as a file name, or a message for a person.
static std::string ask_portal(std::string *failure)
{
    GError *error = nullptr;
    // libportal assumes a session bus; without one it would crash.
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        *failure = std::string("there is no session bus to reach the desktop portal (") + error->message + ")";
        g_error_free(error);
        return "";
    }
    XdpPortal *portal = xdp_portal_new();
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

    std::string file;
    if (request.uri) {
        char *path = g_filename_from_uri(request.uri, nullptr, nullptr);
        if (path)
            file = path;
        else
            *failure = std::string("the desktop portal's picture is not a local file (") + request.uri + ")";
        g_free(path);
        g_free(request.uri);
    } else if (request.timed_out) {
        *failure = "the desktop portal gave no picture within " + std::to_string(PORTAL_PATIENCE_SECONDS) + " s";
    } else if (request.error->domain == G_DBUS_ERROR) {
        g_dbus_error_strip_remote_error(request.error);
        *failure = std::string("no desktop portal takes screenshots here (") + request.error->message +
                   "): install xdg-desktop-portal and the portal of your desktop";
    } else {
        // A refusal, the user's or a stored one, comes back as a plain failure.
        *failure = std::string("the desktop portal gave no picture (") + request.error->message +
                   "): if your desktop asked, allow applications to take screenshots";
    }
    if (request.error)
        g_error_free(request.error);
    g_object_unref(cancellable);
    g_object_unref(portal);
    g_object_unref(bus);
    return file;
}

void take_portal_screenshot(int w, int h, std::vector<uint32_t> *rgb)
{
    std::string failure;
    std::string file = ask_portal(&failure);
    if (file.empty())
        fatal("cannot photograph the Wayland desktop: %s", failure.c_str());

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
