#ifndef HTTPGLOBAL_H
#define HTTPGLOBAL_H

#include <QString>
#include <QtGlobal>

class QSettings;

namespace tessiro {

// Native socket descriptor as it travels from the listener to a handler thread.
typedef qintptr tSocketDescriptor;

// A path from the settings: absolute paths and built-in resources (":/", "qrc://")
// stay as they are, anything else is taken relative to the settings file's folder.
QString resolveSettingsPath(const QSettings* settings, const QString& path);

} // namespace tessiro

#endif
