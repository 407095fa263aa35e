#ifndef NORVIK_TESTS_WARNINGLOG_H
#define NORVIK_TESTS_WARNINGLOG_H

// Collects the warnings and critical messages logged while it is alive, and
// passes every message on to the handler that was installed before (Qt Test's).

#include <QString>
#include <QStringList>
#include <QtGlobal>

class WarningLog
{
public:
    WarningLog()
    {
        messages().clear();
        previous() = qInstallMessageHandler(handler);
    }
    ~WarningLog() { qInstallMessageHandler(previous()); }
    WarningLog(const WarningLog&) = delete;
    WarningLog& operator=(const WarningLog&) = delete;

    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }

private:
    static QtMessageHandler& previous()
    {
        static QtMessageHandler h = nullptr;
        return h;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
    {
        if (type == QtWarningMsg || type == QtCriticalMsg)
            messages().append(msg);
        previous()(type, context, msg);
    }
};

#endif
