// A desktop portal of the tests' own, on a bus of its own, that answers
// screenshot requests as a script says: for each request in turn a
// response code (0 a picture, 1 cancelled, 2 failed) and how long it takes
// to answer. It runs a command on that bus and counts the requests in a
// file, so a test sees how often havoc asked.
//   wayland_tests --fake-portal SCRIPT COUNT_FILE command [args...]
// SCRIPT is "CODE:MS,CODE:MS,...", the last answer repeating.
#include "wayland/wayland_desktop.h"

#include <gio/gio.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Answer {
    unsigned code;
    unsigned ms;
};

std::vector<Answer> script;
std::string count_file, picture_file;
int requests;
GMainLoop *loop;

const char INTERFACE_XML[] = R"(<node>
  <interface name="org.freedesktop.portal.Screenshot">
    <method name="Screenshot">
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <property name="version" type="u" access="read"/>
  </interface>
</node>)";

struct Response {
    GDBusConnection *bus;
    std::string sender, path;
    unsigned code;
};

gboolean respond(gpointer data)
{
    auto *r = static_cast<Response *>(data);
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    if (r->code == 0) {
        char *uri = g_filename_to_uri(picture_file.c_str(), nullptr, nullptr);
        g_variant_builder_add(&results, "{sv}", "uri", g_variant_new_string(uri));
        g_free(uri);
    }
    g_dbus_connection_emit_signal(r->bus, r->sender.c_str(), r->path.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(ua{sv})", r->code, &results), nullptr);
    delete r;
    return G_SOURCE_REMOVE;
}

// A picture the size of the X screen, written anew for each answer, as the
// portal would: havoc deletes it once read.
void write_picture()
{
    png_image png = {};
    png.version = PNG_IMAGE_VERSION;
    png.width = (png_uint_32)x_screen_width();
    png.height = (png_uint_32)x_screen_height();
    png.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(png), 0x80);
    png_image_write_to_file(&png, picture_file.c_str(), 0, pixels.data(), 0, nullptr);
}

// Whether the asking process lets the portal look into it, as the desktop's
// portal does before anything else: it tells which application asks by
// opening the process's /proc/PID/root, and refuses one it cannot open.
bool asker_can_be_looked_into(GDBusConnection *bus, const char *sender)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                                  g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (!reply)
        return false;
    unsigned pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    int root = open(("/proc/" + std::to_string(pid) + "/root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return false;
    close(root);
    return true;
}

void method_called(GDBusConnection *bus, const char *sender, const char *, const char *, const char *,
                   GVariant *args, GDBusMethodInvocation *invocation, gpointer)
{
    if (!asker_can_be_looked_into(bus, sender)) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED,
                                              "Portal operation not allowed: cannot look into the asking process");
        return;
    }
    GVariant *options = g_variant_get_child_value(args, 1);
    const char *token = "t";
    g_variant_lookup(options, "handle_token", "&s", &token);
    std::string name = sender + 1;  // ":1.23" is "1_23" in a request's path
    for (char &c : name)
        if (c == '.')
            c = '_';
    auto *r = new Response{bus, sender, "/org/freedesktop/portal/desktop/request/" + name + "/" + token, 0};
    g_variant_unref(options);
    const Answer &a = script[std::min((size_t)requests, script.size() - 1)];
    r->code = a.code;
    ++requests;
    std::FILE *f = std::fopen(count_file.c_str(), "w");
    if (f) {
        std::fprintf(f, "%d\n", requests);
        std::fclose(f);
    }
    if (a.code == 0)
        write_picture();
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", r->path.c_str()));
    g_timeout_add(a.ms, respond, r);
}

GVariant *property_read(GDBusConnection *, const char *, const char *, const char *, const char *, GError **,
                        gpointer)
{
    return g_variant_new_uint32(2);
}

void command_ended(GPid, gint status, gpointer data)
{
    *static_cast<int *>(data) = status;
    g_main_loop_quit(loop);
}

}  // namespace

int run_fake_portal(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: wayland_tests --fake-portal SCRIPT COUNT_FILE command [args...]\n");
        return 2;
    }
    std::stringstream items(argv[2]);
    for (std::string item; std::getline(items, item, ',');)
        script.push_back({(unsigned)std::stoul(item), (unsigned)std::stoul(item.substr(item.find(':') + 1))});
    count_file = argv[3];
    picture_file = count_file + ".png";

    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(INTERFACE_XML, nullptr);
    static const GDBusInterfaceVTable vtable = {method_called, property_read, nullptr, {}};
    g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", node->interfaces[0], &vtable, nullptr,
                                      nullptr, nullptr);
    g_bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                 nullptr, nullptr, nullptr);
    // The name is ours before the command asks for it.
    GVariant *owner = nullptr;
    while (!owner) {
        g_main_context_iteration(nullptr, FALSE);
        owner = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "GetNameOwner",
                                            g_variant_new("(s)", "org.freedesktop.portal.Desktop"), nullptr,
                                            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    }
    g_variant_unref(owner);

    loop = g_main_loop_new(nullptr, FALSE);
    GPid pid;
    int status = 0;
    if (!g_spawn_async(nullptr, argv + 4, nullptr,
                       (GSpawnFlags)(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH | G_SPAWN_CHILD_INHERITS_STDIN),
                       nullptr, nullptr, &pid, nullptr))
        return 127;
    g_child_watch_add(pid, command_ended, &status);
    g_main_loop_run(loop);
    std::remove(picture_file.c_str());
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
