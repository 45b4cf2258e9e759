// Ending the program when start-up cannot go on.
#include "fatal.h"

#include "shell/snapshot.h"

#include <allegro.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fatal(const char *format, ...)
{
    // Back to the desktop first, so the message is seen and nothing stays grabbed.
    allegro_exit();
    restore_pointer();
    va_list args;
    va_start(args, format);
    std::fputs("havoc: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::exit(EXIT_FAILURE);
}
