#ifndef NORVIK_TESTS_WIRETRACE_H
#define NORVIK_TESTS_WIRETRACE_H

// Everything a service emits, in order: packets as "tx <service>/<class>:<hex>" (long
// ones by size), and each signal given to note() as its name and arguments.

#include "service_base.h"

#include <QVariant>

struct WireTrace
{
    explicit WireTrace(ServiceBase* s)
    {
        QObject::connect(s, &ServiceBase::readyReadFromService, s,
                         [this](const QByteArray& data, Link, quint8 id, quint8 cls) {
                             log << QStringLiteral("tx %1/%2:%3").arg(id).arg(cls).arg(text(data));
                         });
    }
    template<class Sender, class Class, class... Args>
    void note(Sender* sender, void (Class::*signal)(Args...), const char* name)
    {
        QObject::connect(sender, signal, sender, [this, name](Args... args) {
            log << QStringList { QString::fromLatin1(name), text(args)... }.join(QLatin1Char(' '));
        });
    }
    template<class T> static QString text(const T& value)
    {
        if constexpr (std::is_same_v<T, QByteArray>)
            return value.size() > 32 ? QStringLiteral("<%1 bytes>").arg(value.size())
                                     : value.toHex();
        const QString s = QVariant::fromValue(value).toString(); // an enumeration by its key
        if constexpr (std::is_enum_v<T>)
            return s.isEmpty() ? QString::number(value) : s;
        return s;
    }
    QStringList log;
};

#endif
