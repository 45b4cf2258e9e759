// The real binary started on a missing or damaged havoc.dat: it must stop
// with one line that says what is wrong and fail, never crash or hang. The
// damaged files are the good one with an object deleted or replaced by
// broken bytes, repacked with the library's dat tool.
#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const double EXIT_SECONDS = 30;
const std::string GOOD_DATA = std::string(HAVOC_DATA_DIR) + "/havoc.dat";

std::string temp_dir(const char *what)
{
    std::string pattern = std::string("/tmp/havoc-damaged-") + what + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    return buf.data();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool shell(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

// How one run of havoc ended.
struct Outcome {
    bool finished = false; // false: still running at the deadline, killed
    int status = 0;        // waitpid's
    std::string errors;    // everything on stderr
};

// Runs havoc in `workdir` against the display, with a private HOME whose
// sound goes nowhere. The shared e2e Havoc runner always copies a data file
// in, so the missing-file case needs this one.
Outcome run_havoc(const std::string &workdir, const std::string &display)
{
    std::string home = temp_dir("home");
    EXPECT_TRUE(shell(std::string(TEST_SCRIPTS_DIR) + "/write_sound_home.sh " + home));
    std::string errors = home + "/stderr.txt";
    std::vector<std::string> env = {"HOME=" + home, "DISPLAY=" + display, "PATH=/usr/bin:/bin"};
    for (const char *keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *v = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + v);
    Outcome outcome;
    pid_t pid = spawn({HAVOC_BINARY}, env, workdir, errors);
    EXPECT_GT(pid, 0);
    if (pid > 0) {
        outcome.finished = wait_until([&] { return waitpid(pid, &outcome.status, WNOHANG) == pid; },
                                      EXIT_SECONDS);
        if (!outcome.finished) {
            kill(pid, SIGKILL);
            waitpid(pid, &outcome.status, 0);
        }
    }
    outcome.errors = read_file(errors);
    shell("rm -rf " + home);
    return outcome;
}

// The lines havoc itself wrote; the sound library may add its own chatter.
std::vector<std::string> havoc_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("ALSA lib ", 0) != 0)
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

// How to spoil the working directory's copy of the good data file.
using Spoil = std::function<void(const std::string &workdir)>;

Spoil no_data_file()
{
    return [](const std::string &) {};
}

Spoil data_file_of(std::function<std::string()> bytes)
{
    return [bytes](const std::string &workdir) { write_file(workdir + "/havoc.dat", bytes()); };
}

Spoil without(const std::string &object)
{
    return [object](const std::string &workdir) {
        ASSERT_TRUE(shell("cp " + GOOD_DATA + " " + workdir + "/havoc.dat"));
        ASSERT_TRUE(shell("dat -d " + workdir + "/havoc.dat " + object + " >/dev/null"));
    };
}

Spoil replacing(const std::string &object, std::string bytes)
{
    return [object, bytes](const std::string &workdir) {
        ASSERT_TRUE(shell("cp " + GOOD_DATA + " " + workdir + "/havoc.dat"));
        std::string staging = temp_dir("object");
        write_file(staging + "/" + object, bytes);
        ASSERT_TRUE(shell("cd " + staging + " && dat -a -k -t DATA -s1 " + workdir + "/havoc.dat " + object +
                          " >/dev/null"));
        shell("rm -rf " + staging);
    };
}

struct Case {
    const char *what;
    Spoil spoil;
    std::vector<std::string> says; // each must be in the one line; "@" is the working dir
};

std::vector<Case> cases()
{
    const std::string replace = "replace it with a good copy";
    return {
        {"no data file", no_data_file(),
         {"havoc: cannot open havoc.dat in @", "run havoc from the folder that holds it"}},
        {"empty data file", data_file_of([] { return std::string(); }),
         {"havoc.dat in @ is not a havoc data file", replace}},
        {"data file of garbage", data_file_of([] { return garbage(5000); }),
         {"havoc.dat in @ is not a havoc data file", replace}},
        {"data file cut after its first objects",
         data_file_of([] { std::string d = read_file(GOOD_DATA); return d.substr(0, d.size() / 3); }),
         {"havoc.dat has no saber.tga", replace}},
        {"data file cut inside the first picture",
         data_file_of([] { return read_file(GOOD_DATA).substr(0, 100000); }), {"bat.tga", replace}},
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

TEST(DamagedData, EachFaultStopsHavocWithOneLineThatNamesIt)
{
    XServer x(640, 480, 24);
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.what);
        std::string workdir = temp_dir("cwd");
        c.spoil(workdir);
        Outcome run = run_havoc(workdir, x.name);
        ASSERT_TRUE(run.finished) << "still running after " << EXIT_SECONDS << " s";
        ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status) << "\n" << run.errors;
        EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.errors;
        std::vector<std::string> lines = havoc_lines(run.errors);
        ASSERT_EQ(lines.size(), 1u) << run.errors;
        EXPECT_EQ(lines[0].rfind("havoc: ", 0), 0u) << lines[0];
        for (std::string expected : c.says) {
            size_t at = expected.find('@');
            if (at != std::string::npos)
                expected.replace(at, 1, workdir);
            EXPECT_NE(lines[0].find(expected), std::string::npos) << "expected \"" << expected << "\" in\n"
                                                                  << lines[0];
        }
        shell("rm -rf " + workdir);
    }
}

} // namespace
