// The process on a Unix system: its standard descriptors, the stop signals
// and how havoc ends by one, the core limit, the sound library's quieting,
// and where a fatal message is read.
#include "platform/platform.h"

#include "shell/fatal.h"
#include "shell/scene.h"

#include <alsa/asoundlib.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

static const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
static const int STOP_SIGNAL_COUNT = sizeof STOP_SIGNALS / sizeof STOP_SIGNALS[0];
static bool ignored_at_start[STOP_SIGNAL_COUNT];
static const int STANDARD_STREAMS = 3;
static const int EXIT_STATUS_OF_SIGNAL = 128;

// The sound library's own complaints (no card, no mixer) would go to
// stderr; havoc says what matters in its own words.
static void keep_quiet(const char *, int, const char *, int, const char *, ...)
{
}

// Descriptors 0 to 2 are opened onto the null device where they were
// closed, so no connection the libraries make later can take one of them
// and receive what is written to stderr.
void prepare_process()
{
    for (int fd = 0; fd < STANDARD_STREAMS; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            fatal("cannot open the null device for descriptor %d", fd);
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction now;
        ignored_at_start[i] = sigaction(STOP_SIGNALS[i], nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
    }
    snd_lib_error_set_handler(keep_quiet);
}

// Only a note: everything else waits for the loops to see it.
static void note_stop_signal(int signal_number)
{
    stop_signal.store(signal_number);
}

// The library has just put in handlers of its own that can end the program
// with no cleanup; INT, TERM, QUIT and HUP take havoc's way instead. The
// library's emergency key, Ctrl+Alt+End, sends TERM, so it does too.
void catch_stop_signals()
{
    for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
        struct sigaction action = {};
        action.sa_handler = ignored_at_start[i] ? SIG_IGN : note_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(STOP_SIGNALS[i], &action, nullptr);
    }
}

// By that same signal, with its default action.
void end_by_stop_signal(int signal_number)
{
    // A QUIT would otherwise leave a core file, and the photograph in it, on disk.
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
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
