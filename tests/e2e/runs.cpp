#include "e2e/runs.h"

#include "e2e/desktop.h"
#include "e2e/sound.h"

// gtest before the X headers, whose macros (None, Bool, ...) it would trip over.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

const std::string GOOD_DATA_FILE = std::string(HAVOC_DATA_DIR) + "/havoc.dat";

bool wait_until(const std::function<bool()> &condition, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string make_temp_dir(const char *what)
{
    std::string pattern = std::string("/tmp/havoc-") + what + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        std::abort();
    return buf.data();
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void die_with(pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
}

int spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
          const std::string &cwd, const std::string &out_path)
{
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        die_with(parent);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        if (!out_path.empty()) {
            int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 2);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
        }
        // INT and QUIT as a terminal would deliver them, whatever we inherited.
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char *> argv, envp;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

Process::~Process()
{
    end();
    for (const std::string &folder : scratch) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

std::string Process::scratch_folder(const char *what)
{
    scratch.push_back(make_temp_dir(what));
    return scratch.back();
}

void Process::start(const std::vector<std::string> &args, const std::vector<std::string> &env,
                    const std::string &cwd, const std::string &stderr_path_)
{
    stderr_path = stderr_path_;
    started = std::chrono::system_clock::now();
    pid = spawn(args, env, cwd, stderr_path);
}

bool Process::running()
{
    if (exited || pid <= 0)
        return false;
    if (waitpid(pid, &status, WNOHANG) == pid)
        exited = true;
    return !exited;
}

bool Process::wait_exit(double seconds)
{
    return wait_until([&] { return !running(); }, seconds);
}

void Process::signal(int sig)
{
    kill(pid, sig);
}

void Process::end()
{
    if (running()) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        exited = true;
    }
}

std::string Process::stderr_text() const
{
    return read_file(stderr_path);
}

bool quit_with_escape(XServer &x, Process &program)
{
    const double QUIT_SECONDS = 20;
    return wait_until([&] {
        tap_key(x, XK_Escape);
        return !program.running();
    }, QUIT_SECONDS);
}

Havoc::Havoc(XServer *x, bool with_display, const std::string &data_file, const std::vector<std::string> &launcher)
{
    home = scratch_folder("home");
    workdir = scratch_folder("cwd");
    write_sound_home(home);
    if (!data_file.empty()) {
        std::string copy = "cp " + data_file + " " + workdir + "/havoc.dat";
        EXPECT_EQ(std::system(copy.c_str()), 0);
    }
    std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin"};
    if (with_display)
        env.push_back("DISPLAY=" + x->name);
    for (const char *keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *v = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + v);
    std::vector<std::string> command = launcher;
    command.push_back(HAVOC_BINARY);
    start(command, env, workdir, home + "/stderr.txt");
}

std::vector<std::string> Havoc::working_dir_files() const
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(workdir.c_str())) {
        while (dirent *e = readdir(dir))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

// The System V shared memory segments a run of havoc created, as the
// kernel lists them, with their mode bits: permissions, and SHM_DEST once
// marked for removal. Segments that other runs leaked stay listed with the
// number of the process that made them, which a later process may be given
// again; those were last changed before this run started.
struct Segment {
    int id;
    int mode;
};
static std::vector<Segment> segments_of(const Havoc &havoc)
{
    long start_second = std::chrono::duration_cast<std::chrono::seconds>(havoc.started.time_since_epoch()).count();
    std::vector<Segment> found;
    std::ifstream list("/proc/sysvipc/shm");
    std::string header;
    std::getline(list, header);
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        long key, size, last_attach, last_detach, last_change;
        int id, creator, last_user, attached, uid, gid, creator_uid, creator_gid;
        std::string mode;
        if (fields >> key >> id >> mode >> size >> creator >> last_user >> attached >> uid >> gid >>
                creator_uid >> creator_gid >> last_attach >> last_detach >> last_change &&
            creator == havoc.pid && last_change >= start_second)
            found.push_back({id, (int)std::stol(mode, nullptr, 8)});
    }
    return found;
}

static bool readable_by_user(int id, int uid)
{
    const int ATTACHED = 0, REFUSED = 1, NOT_THAT_USER = 2;
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
            _exit(NOT_THAT_USER);
        _exit(shmat(id, nullptr, SHM_RDONLY) == (void *)-1 ? REFUSED : ATTACHED);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_NE(WEXITSTATUS(status), NOT_THAT_USER) << "cannot become user " << uid;
    return WIFEXITED(status) && WEXITSTATUS(status) == ATTACHED;
}

std::vector<std::string> frame_memory_faults(const Havoc &havoc)
{
    const int NOBODY = 65534, OWNER_ONLY = 0600, PERMISSIONS = 0777;
    std::vector<std::string> faults;
    std::vector<Segment> segments = segments_of(havoc);
    if (segments.empty())
        faults.push_back("no shared memory for the frame");
    for (const Segment &s : segments) {
        if ((s.mode & PERMISSIONS) != OWNER_ONLY) {
            char mode[16];
            std::snprintf(mode, sizeof mode, "%03o", s.mode & PERMISSIONS);
            faults.push_back(std::string("shared memory of mode ") + mode);
        }
        if (!(s.mode & SHM_DEST))
            faults.push_back("shared memory not marked for removal");
        if (geteuid() == 0 && readable_by_user(s.id, NOBODY))
            faults.push_back("shared memory readable by nobody");
    }
    return faults;
}

bool shared_memory_left(const Havoc &havoc)
{
    return !segments_of(havoc).empty();
}
