#ifndef NORVIK_TESTS_SAMPLEINSTALL_H
#define NORVIK_TESTS_SAMPLEINSTALL_H

// A private copy of the sample installation (sim/sample) in a temporary
// directory, so a test may change, break or remove files freely.
// The test's CMakeLists defines NORVIK_SAMPLE_DIR as the sample's source path.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#ifndef NORVIK_SAMPLE_DIR
#error "NORVIK_SAMPLE_DIR must name the sample installation's source directory"
#endif

class SampleInstall
{
public:
    SampleInstall()
    {
        m_ok = m_dir.isValid() && copyTree(QStringLiteral(NORVIK_SAMPLE_DIR), root());
    }
    ~SampleInstall() { qunsetenv("NORVIK_APP_DIR"); }
    SampleInstall(const SampleInstall&) = delete;
    SampleInstall& operator=(const SampleInstall&) = delete;

    bool isValid() const { return m_ok; }
    QString root() const { return m_dir.path(); }
    QString applicationsDir() const { return root() + QStringLiteral("/Applications"); }
    QString appDir(const QString& app) const { return applicationsDir() + QLatin1Char('/') + app; }
    QString sharedConfigDir() const { return applicationsDir() + QStringLiteral("/.config"); }

    // Makes the application the running one (the directory PlatformPaths::appDir() gives).
    void useApp(const QString& app) const { qputenv("NORVIK_APP_DIR", appDir(app).toLocal8Bit()); }

    // Writes a text file below root(), creating its directories.
    bool writeFile(const QString& relativePath, const QByteArray& content) const
    {
        const QString path = root() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(content) == content.size();
    }

    // Copies a directory tree, hidden entries and file permissions included.
    static bool copyTree(const QString& from, const QString& to)
    {
        QDir source(from);
        if (!source.exists() || !QDir().mkpath(to))
            return false;
        QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString target = to + QLatin1Char('/') + source.relativeFilePath(path);
            if (it.fileInfo().isDir()) {
                if (!QDir().mkpath(target))
                    return false;
            } else if (!QDir().mkpath(QFileInfo(target).absolutePath())
                       || !QFile::copy(path, target)) {
                return false;
            }
        }
        return true;
    }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

#endif
