#ifndef NORVIK_TESTS_TEMPSYSROOT_H
#define NORVIK_TESTS_TEMPSYSROOT_H

// A temporary folder that stands in for "/" of the remote (NORVIK_SYSROOT)
// while the object lives.

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

class TempSysroot
{
public:
    TempSysroot()
    {
        if (m_dir.isValid())
            qputenv("NORVIK_SYSROOT", QFile::encodeName(m_dir.path()));
    }
    ~TempSysroot() { qunsetenv("NORVIK_SYSROOT"); }
    TempSysroot(const TempSysroot&) = delete;
    TempSysroot& operator=(const TempSysroot&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

#endif
