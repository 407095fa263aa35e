#ifndef NORVIK_SYSTEM_ERROR_H
#define NORVIK_SYSTEM_ERROR_H

// Violated preconditions are programming errors: they end the process with
// one fatal log line naming the source position.
[[noreturn]] void myAssertFunc(const char* file, int line);

#define NORVIK_ASSERT(cond)                                                                        \
    do {                                                                                           \
        if (!(cond))                                                                               \
            myAssertFunc(__FILE__, __LINE__);                                                      \
    } while (false)

#endif
