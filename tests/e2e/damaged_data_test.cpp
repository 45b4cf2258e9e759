// The real binary started on a missing or damaged havoc.dat: it must stop
// with one line that says what is wrong and fail, never crash or hang. The
// damaged files are the good one with an object deleted or replaced by
// broken bytes, repacked with the library's dat tool. A data file that is
// not there, is not a plain file or cannot be read must be found out before
// the screen is touched: within a second, and without a window ever mapped.
#include "e2e/desktop.h"
#include "e2e/runs.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const double EXIT_SECONDS = 30;

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool shell(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// --- Making broken objects ---------------------------------------------------

std::string le16(int v)
{
    return {char(v & 255), char(v >> 8 & 255)};
}

std::string le32(unsigned v)
{
    return le16(v & 0xFFFF) + le16(v >> 16);
}

std::string tga_header(int type, int w, int h, int bpp, int map_type = 0, int map_length = 0, int map_bits = 0)
{
    return std::string{0, char(map_type), char(type)} + le16(0) + le16(map_length) + char(map_bits) +
           le16(0) + le16(0) + le16(w) + le16(h) + char(bpp) + char(0);
}

// A whole, valid picture: grey pixels and no transparency.
std::string tga(int w, int h)
{
    return tga_header(2, w, h, 24) + std::string((size_t)w * h * 3, char(0x80));
}

std::string wav(int data_bytes)
{
    std::string data((size_t)data_bytes, '\0');
    return "RIFF" + le32(36 + data_bytes) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(22050) +
           le32(44100) + le16(2) + le16(16) + "data" + le32(data_bytes) + data;
}

std::string garbage(size_t n)
{
    std::string bytes(n, '\0');
    unsigned x = 12345;
    for (char &c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return bytes;
}

// --- The cases ---------------------------------------------------------------

// How to make a spoilt havoc.dat from the good one, at `path`; a spoil that
// leaves no file there means no data file at all.
using Spoil = std::function<void(const std::string &path)>;

Spoil no_data_file()
{
    return [](const std::string &) {};
}

Spoil data_file_of(std::function<std::string()> bytes)
{
    return [bytes](const std::string &path) { write_file(path, bytes()); };
}

Spoil without(const std::string &object)
{
    return [object](const std::string &path) {
        ASSERT_TRUE(shell("cp " + GOOD_DATA_FILE + " " + path));
        ASSERT_TRUE(shell("dat -d " + path + " " + object + " >/dev/null"));
    };
}

Spoil replacing(const std::string &object, std::string bytes)
{
    return [object, bytes](const std::string &path) {
        ASSERT_TRUE(shell("cp " + GOOD_DATA_FILE + " " + path));
        std::string staging = make_temp_dir("object");
        write_file(staging + "/" + object, bytes);
        ASSERT_TRUE(shell("cd " + staging + " && dat -a -k -t DATA -s1 " + path + " " + object + " >/dev/null"));
        shell("rm -rf " + staging);
    };
}

const bool BEFORE_SCREEN = true;   // found out before the desktop is photographed
const bool UNPRIVILEGED = true;    // run by a user whom permissions bind: nobody, when we are root

struct Case {
    const char *what;
    Spoil spoil;
    std::vector<std::string> says; // each must be in the one line; "@" is the working dir
    bool before_screen = false;
    // What a copy cannot carry (a pipe, a folder, a link, a file its user
    // may not read): a shell command that makes havoc.dat in the working
    // directory just before havoc starts there.
    std::string made_in_place = "";
    bool unprivileged = false;
};

// How a case's havoc is started: as it is, or after its data file is made
// in place; as nobody from a copy nobody may run, when we are root.
std::vector<std::string> launcher_for(const Case &c)
{
    if (c.made_in_place.empty())
        return {};
    std::string command = c.made_in_place + " && exec \"$0\"";
    if (c.unprivileged && geteuid() == 0)
        command = c.made_in_place + " && chmod 755 . && cp \"$0\" havoc && "
                  "exec setpriv --reuid=nobody --regid=nogroup --clear-groups ./havoc";
    return {"/bin/sh", "-c", command};
}

std::vector<Case> cases()
{
    const std::string replace = "replace it with a good copy";
    return {
        {"no data file", no_data_file(),
         {"havoc: cannot open havoc.dat in @", "run havoc from the folder that holds it"}, BEFORE_SCREEN},
        {"empty data file", data_file_of([] { return std::string(); }),
         {"havoc.dat in @ is not a havoc data file", replace}, BEFORE_SCREEN},
        {"data file of garbage", data_file_of([] { return garbage(5000); }),
         {"havoc.dat in @ is not a havoc data file", replace}, BEFORE_SCREEN},
        {"named pipe", no_data_file(), {"havoc.dat in @ is a named pipe, not a file", replace}, BEFORE_SCREEN,
         "mkfifo havoc.dat"},
        {"folder", no_data_file(), {"havoc.dat in @ is a folder, not a file", replace}, BEFORE_SCREEN,
         "mkdir havoc.dat"},
        {"device", no_data_file(), {"havoc.dat in @ is a device, not a file", replace}, BEFORE_SCREEN,
         "ln -s /dev/zero havoc.dat"},
        {"link to nothing", no_data_file(),
         {"cannot open havoc.dat (a link to gone.dat) in @: No such file or directory", replace}, BEFORE_SCREEN,
         "ln -s gone.dat havoc.dat"},
        {"link to itself", no_data_file(),
         {"cannot open havoc.dat (a link to havoc.dat) in @: Too many levels of symbolic links", replace},
         BEFORE_SCREEN, "ln -s havoc.dat havoc.dat"},
        {"unreadable", no_data_file(), {"cannot open havoc.dat in @: Permission denied", replace}, BEFORE_SCREEN,
         "cp " + GOOD_DATA_FILE + " havoc.dat && chmod 000 havoc.dat", UNPRIVILEGED},
        {"compressed file of garbage", data_file_of([] { return "slh!" + garbage(5000); }),
         {"havoc.dat in @ is not a havoc data file", replace}},
        {"data file cut after its first objects",
         data_file_of([] { std::string d = read_file(GOOD_DATA_FILE); return d.substr(0, d.size() / 3); }),
         {"havoc.dat has no saber.tga", replace}},
        {"data file cut inside the first picture",
         data_file_of([] { return read_file(GOOD_DATA_FILE).substr(0, 100000); }), {"bat.tga", replace}},
        {"picture missing", without("saber.tga"), {"havoc.dat has no saber.tga", replace}},
        {"icon missing", without("icon03.tga"), {"havoc.dat has no icon03.tga", replace}},
        {"sound missing", without("mampf.wav"), {"havoc.dat has no mampf.wav", replace}},
        {"run-length picture cut short", replacing("bat.tga", tga_header(10, 800, 120, 24) + garbage(300)),
         {"bat.tga is not an uncompressed true-colour TGA"}},
        {"colour map of 1000 entries", replacing("crack.tga", tga_header(1, 121, 121, 8, 1, 1000, 24) + garbage(4000)),
         {"crack.tga is not an uncompressed true-colour TGA"}},
        {"16-bit picture", replacing("pointer.tga", tga_header(2, 13, 21, 16) + garbage(13 * 21 * 2)),
         {"pointer.tga is not an uncompressed true-colour TGA"}},
        {"picture header only", replacing("saberhole.tga", tga_header(2, 28, 24, 24)),
         {"saberhole.tga is cut short"}},
        {"picture shorter than its header", replacing("laserhole.tga", std::string("\x00\x00\x02", 3)),
         {"laserhole.tga is too short to be a picture"}},
        {"picture of no pixels", replacing("lady.tga", tga_header(2, 0, 29, 24)),
         {"lady.tga has impossible dimensions"}},
        {"bat strip too narrow", replacing("bat.tga", tga(640, 120)),
         {"bat.tga is 640x120, smaller than its 800x120 of frames"}},
        {"saber strip too low", replacing("saber.tga", tga(1290, 200)),
         {"saber.tga is 1290x200, smaller than its 1290x245 of frames"}},
        {"icon of another size", replacing("icon02.tga", tga(60, 64)),
         {"icon02.tga is 60x64, not 64x64"}},
        {"cap shorter than the icons", replacing("cap.tga", tga(16, 40)),
         {"cap.tga is 16x40, not as tall as the 64 of the icons"}},
        {"sound without samples", replacing("glass.wav", wav(0)), {"glass.wav holds no sound"}},
        {"sound of garbage", replacing("laser.wav", garbage(3000)), {"laser.wav is not a readable WAV sound"}},
    };
}

// True when some window became visible since the last call.
bool window_mapped(XServer &x)
{
    XSync(x.display, False);
    XEvent event;
    bool mapped = false;
    while (XCheckTypedEvent(x.display, MapNotify, &event))
        mapped = true;
    return mapped;
}

TEST(DamagedData, EachFaultStopsHavocWithOneLineThatNamesIt)
{
    const double BEFORE_SCREEN_SECONDS = 1;
    XServer x(640, 480, 24);
    XSelectInput(x.display, DefaultRootWindow(x.display), SubstructureNotifyMask);
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.what);
        std::string staging = make_temp_dir("spoilt");
        std::string spoilt = staging + "/havoc.dat";
        c.spoil(spoilt);
        window_mapped(x);
        Havoc havoc(&x, true, access(spoilt.c_str(), F_OK) == 0 ? spoilt : "", launcher_for(c));
        shell("rm -rf " + staging);
        ASSERT_TRUE(havoc.wait_exit(EXIT_SECONDS)) << "still running after " << EXIT_SECONDS << " s";
        std::chrono::duration<double> lasted = std::chrono::system_clock::now() - havoc.started;
        std::string errors = havoc.stderr_text();
        ASSERT_TRUE(WIFEXITED(havoc.status)) << "ended by signal " << WTERMSIG(havoc.status) << "\n" << errors;
        EXPECT_EQ(WEXITSTATUS(havoc.status), 1) << errors;
        if (c.before_screen) {
            EXPECT_LT(lasted.count(), BEFORE_SCREEN_SECONDS);
            EXPECT_FALSE(window_mapped(x)) << "a window showed before the message";
        }
        std::vector<std::string> lines = lines_of(errors);
        ASSERT_EQ(lines.size(), 1u) << errors;
        EXPECT_EQ(lines[0].rfind("havoc: ", 0), 0u) << lines[0];
        for (std::string expected : c.says) {
            size_t at = expected.find('@');
            if (at != std::string::npos)
                expected.replace(at, 1, havoc.workdir);
            EXPECT_NE(lines[0].find(expected), std::string::npos) << "expected \"" << expected << "\" in\n"
                                                                  << lines[0];
        }
    }
}

} // namespace
