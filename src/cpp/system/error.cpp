#include "error.h"

#include <QMessageLogger>

#include <cstdlib>

void myAssertFunc(const char* file, int line)
{
    QMessageLogger(file, line, "myAssertFunc").fatal("Fatal %s:%d", file, line);
    // qFatal() aborts already; this keeps [[noreturn]] honest if a handler returns.
    std::abort();
}
