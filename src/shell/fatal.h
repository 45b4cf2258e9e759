// Ending the program when start-up cannot go on.
#pragma once

// Restores the display, prints "havoc: <message>" as one line on stderr and
// exits with status 1. printf-style.
[[noreturn]] void fatal(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
