#ifndef RUZAD_CHECKSUM_H
#define RUZAD_CHECKSUM_H

#include <QByteArray>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QString>

namespace RUzad {

// MD5 (16 raw bytes) over the contents of the application's files below path, in sorted
// path order; both ends of the link compare it to find an application that is out of sync.
QByteArray calculateChecksum(const QString& path);

// Feeds the files below dir into hash in the order calculateChecksum uses.
void addToHash(const QFileInfo& dir, QCryptographicHash& hash);

} // namespace RUzad

#endif
