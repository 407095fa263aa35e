#ifndef NORVIK_SYSTEM_PLATFORMPATHS_H
#define NORVIK_SYSTEM_PLATFORMPATHS_H

#include <QString>

// The one place that knows where the remote's fixed system paths and the
// application directory are. On the remote both are the real ones; a
// development host, the tests and the desk runner move them into a folder:
//   NORVIK_SYSROOT  prefixes every fixed system path ("/dev/ttymxc0", ...)
//   NORVIK_APP_DIR  replaces the directory of the running executable
// No other code reads the environment for these.
class PlatformPaths
{
public:
    // An absolute system path such as "/dev/ttymxc0", with the sysroot in front when one is set.
    static QString systemPath(const QString& absolutePath);

    // The directory the application's tables and files live in, without a trailing slash.
    static QString appDir();

    // A path relative to appDir(); a leading '/' in relativePath is accepted.
    static QString appPath(const QString& relativePath);

    static QString sysroot();
};

#endif
