#ifndef NORVIK_FUZZ_QUIETLOG_H
#define NORVIK_FUZZ_QUIETLOG_H

#include <QtGlobal>

// Broken input logs on nearly every run; printing it would only slow the fuzzer.
inline void silenceQtLog()
{
    static const bool once = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)once;
}

#endif
