// The process on a Unix system: its standard descriptors, the signals that
// end it and how havoc ends by one, its core files, the sound library's
// quieting, and where a fatal message is read.
#include "platform/platform.h"

#include "platform/posix.h"
#include "platform/x11.h"
#include "shell/fatal.h"
#include "shell/scene.h"

#include <alsa/asoundlib.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

// Signals that ask havoc to stop: INT (Ctrl+C), TERM, QUIT and HUP, and the
// others whose default is to end a process, as another program may send
// them. Each ends havoc through its normal shutdown.
static const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};
static const int STOP_SIGNAL_COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];
static bool ignored_at_start[STOP_SIGNAL_COUNT];
// Signals of a crash, or sent as one: nothing of the program can be
// trusted to run any more.
static const int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS, SIGXCPU, SIGXFSZ};
static const int STANDARD_STREAMS = 3;
static const int EXIT_STATUS_OF_SIGNAL = 128;

// The sound library's own complaints (no card, no mixer) would go to
// stderr; havoc says what matters in its own words.
static void keep_quiet(const char *, int, const char *, int, const char *, ...)
{
}

// Only a note: everything else waits for the loops to see it. The handler
// takes the signal's number alone, as the library puts back with signal()
// whatever handler it found when it shuts down.
static void note_stop_signal(int signal_number)
{
    stop_signal.store(signal_number);
}

// A PIPE that havoc raised itself, writing to a pipe nobody reads any more
// (stderr, say), is no request to stop: the write just fails. One sent by
// another program is. The library leaves PIPE alone.
static void note_pipe_signal(int signal_number, siginfo_t *info, void *)
{
    if (info->si_code == SI_USER && info->si_pid == getpid())
        return;
    note_stop_signal(signal_number);
}

// The desktop comes back as the process dies: the server unmaps its windows
// and ends its grabs when its connection closes. Only the pointer needs
// putting back, by the one thing a crashed process can still do safely.
// Then the signal, at its default action and let through, ends the process,
// with no core file (see prepare_process).
static void die_with_desktop_given_back(int signal_number)
{
    restore_pointer_from_crash();
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    raise(signal_number);
}

static void install_handlers()
{
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction action = {};
        if (ignored_at_start[i])
            action.sa_handler = SIG_IGN;
        else if (STOP_SIGNALS[i] == SIGPIPE)
            action.sa_sigaction = note_pipe_signal;
        else
            action.sa_handler = note_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | (STOP_SIGNALS[i] == SIGPIPE ? SA_SIGINFO : 0);
        sigaction(STOP_SIGNALS[i], &action, nullptr);
    }
    for (int signal_number : CRASH_SIGNALS) {
        struct sigaction action = {};
        action.sa_handler = die_with_desktop_given_back;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
    }
}

static sigset_t stop_signal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : STOP_SIGNALS)
        sigaddset(&set, signal_number);
    return set;
}

void keep_process_private(bool closed)
{
    prctl(PR_SET_DUMPABLE, closed ? 0 : 1, 0, 0, 0);
}

// Descriptors 0 to 2 are opened onto the null device where they were
// closed, so no connection the libraries make later can take one of them
// and receive what is written to stderr.
//
// No core file is ever written: it would hold the desktop's picture, in
// havoc's buffers, the library's, Xlib's and the decoder's, too many to
// keep out of a dump one by one. Not dumpable also keeps crash collectors,
// which ignore the core limit, and other processes of the user's from
// reading havoc's memory.
//
// The stop signals are held back until havoc's handlers replace those the
// library puts in as it starts (catch_stop_signals): the library's own end
// the program with no cleanup, or abort it while its lock is held. Threads
// the library starts meanwhile keep them held back for good, so they all
// come to the main thread. havoc's handlers go in now too, for the library
// keeps what it found and puts that back when it shuts down.
void prepare_process()
{
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    keep_process_private(true);
    for (int fd = 0; fd < STANDARD_STREAMS; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            fatal("cannot open the null device for descriptor %d", fd);
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction now;
        ignored_at_start[i] = sigaction(STOP_SIGNALS[i], nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
    }
    sigset_t stops = stop_signal_set();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    install_handlers();
    snd_lib_error_set_handler(keep_quiet);
}

// The library has just put in handlers of its own that can end the program
// with no cleanup; every signal takes havoc's way instead, and the stop
// signals held back since prepare_process arrive now. The library's
// emergency key, Ctrl+Alt+End, sends TERM, so it takes the same way out.
void catch_stop_signals()
{
    install_handlers();
    sigset_t stops = stop_signal_set();
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

int held_stop_signal()
{
    sigset_t pending;
    sigpending(&pending);
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i)
        if (STOP_SIGNALS[i] != SIGPIPE && !ignored_at_start[i] && sigismember(&pending, STOP_SIGNALS[i]))
            return STOP_SIGNALS[i];
    return 0;
}

// By that same signal, with its default action.
void end_by_stop_signal(int signal_number)
{
    std::signal(signal_number, SIG_DFL);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    std::raise(signal_number);
    _exit(EXIT_STATUS_OF_SIGNAL + signal_number);
}

// Started from a terminal or a desktop, a Unix program's stderr is read.
void show_fatal_message(const char *)
{
}
