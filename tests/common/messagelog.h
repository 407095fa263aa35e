#ifndef NORVIK_TESTS_MESSAGELOG_H
#define NORVIK_TESTS_MESSAGELOG_H

// Collects the messages logged from any thread while it is alive, and passes each one
// on to the handler that was installed before (Qt Test's). Nested logs share one record.

#include <QPair>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

class MessageLog
{
public:
    MessageLog()
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().depth++ == 0) {
            state().entries.clear();
            state().previous = qInstallMessageHandler(handler);
        }
    }
    ~MessageLog()
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (--state().depth == 0)
            qInstallMessageHandler(state().previous);
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // The warnings and critical messages so far, or every message.
    static QStringList messages(bool everything = false)
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        QStringList out;
        for (const auto& entry : qAsConst(state().entries))
            if (everything || entry.first)
                out << entry.second;
        return out;
    }

private:
    struct State
    {
        std::mutex mutex; // seen by the thread sanitizer, unlike QMutex
        int depth = 0;
        QtMessageHandler previous = nullptr;
        QList<QPair<bool, QString>> entries; // a warning or worse, the text
    };
    static State& state()
    {
        static State s;
        return s;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
    {
        QtMessageHandler previous;
        {
            std::lock_guard<std::mutex> lock(state().mutex);
            state().entries.append({ type == QtWarningMsg || type == QtCriticalMsg, msg });
            previous = state().previous;
        }
        previous(type, context, msg);
    }
};

#endif
