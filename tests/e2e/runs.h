// End-to-end support, program runs: one process type for every program a
// suite starts (havoc itself, its installed launcher, havoc.exe under Wine),
// waiting on conditions, scratch folders, and what a run of havoc leaves in
// the kernel's shared memory.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct XServer;

// Polls `condition` every 20 ms until it holds or `seconds` pass.
bool wait_until(const std::function<bool()> &condition, double seconds);

// A new, empty folder /tmp/havoc-<what>.XXXXXX.
std::string make_temp_dir(const char *what);

// The whole of a file, empty when it cannot be read.
std::string read_file(const std::string &path);

// In a child just forked from `parent`: the child is killed when the parent
// dies, so a test run that crashes or is killed leaves no havoc or X server
// running behind it.
void die_with(pid_t parent);

// Starts args[0] (looked up in PATH) with exactly `env`, in `cwd` unless it
// is empty, with INT and QUIT at their defaults and nothing blocked, and
// killed should the test die. When
// `out_path` is given, stderr goes there and stdout to /dev/null. The pid.
int spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
          const std::string &cwd, const std::string &out_path);

// A program the test started: watched without blocking, its stderr kept in
// a file, killed if it still runs when the test lets go of it, and the
// scratch folders made for it removed once it has ended.
class Process {
public:
    Process() = default;
    Process(const std::vector<std::string> &args, const std::vector<std::string> &env, const std::string &cwd,
            const std::string &stderr_path)
    {
        start(args, env, cwd, stderr_path);
    }
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // A new, empty folder that goes when the process does.
    std::string scratch_folder(const char *what);
    // Starts it as spawn() does, stderr into `stderr_path`.
    void start(const std::vector<std::string> &args, const std::vector<std::string> &env, const std::string &cwd,
               const std::string &stderr_path);
    bool running();
    // Waits for the process to end; false on timeout. `status` is waitpid's.
    bool wait_exit(double seconds);
    void signal(int sig);
    // Kills it if it still runs, and reaps it.
    void end();
    std::string stderr_text() const;

    int pid = -1;
    std::chrono::system_clock::time_point started;   // just before it was started
    int status = 0;
    bool exited = false;
    std::string stderr_path;

private:
    std::vector<std::string> scratch;
};

// Escape on the palette quits once its fade-in is over: keeps pressing it,
// for up to 20 seconds, until the program has ended.
bool quit_with_escape(XServer &x, Process &program);

// The data file the build made.
extern const std::string GOOD_DATA_FILE;

// A run of the real binary in a fresh working directory, with a private
// HOME whose ALSA output goes to sound.wav. The working directory holds only
// a copy of `data_file`, as havoc.dat, or nothing when it is empty.
// `launcher`, when given, starts it: the binary's path is its last argument.
struct Havoc : Process {
    explicit Havoc(XServer *x, bool with_display = true, const std::string &data_file = GOOD_DATA_FILE,
                   const std::vector<std::string> &launcher = {});

    std::vector<std::string> working_dir_files() const;
    std::string sound_file() const { return home + "/sound.wav"; }

    std::string home, workdir;
};

// What is wrong with the shared memory of a running havoc's frame: nothing
// when it exists, only its own user can read it (as root: `nobody` cannot
// attach it), and it is marked to go once havoc and the server let go.
std::vector<std::string> frame_memory_faults(const Havoc &havoc);
// True while a segment this run of havoc created is still there (what
// `ipcs -m -p` shows), as after an abort used to leave it.
bool shared_memory_left(const Havoc &havoc);
