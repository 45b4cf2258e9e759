// Ending the program when start-up cannot go on.
#include "fatal.h"

#include "platform/platform.h"

#include <allegro.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

static const int MESSAGE_SIZE = 512;

void fatal(const char *format, ...)
{
    // Back to the desktop first, so the message is seen and nothing stays grabbed.
    hide_screen_window();
    allegro_exit();
    restore_pointer();
    char message[MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fprintf(stderr, "havoc: %s\n", message);
    show_fatal_message(message);
    std::exit(EXIT_FAILURE);
}
