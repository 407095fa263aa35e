#ifndef NORVIK_APPLOG_H
#define NORVIK_APPLOG_H

#include <QObject>
#include <QString>

class QFile;

// A rotating text log for applications: one "time;label;tag;message" line per
// entry in the files <directory>/<fileName>_0 .. _<maxFiles-1>, the highest
// number being the newest. A restart continues in the newest file.
// File errors are not reported; an entry that cannot be written is lost.
class AppLog : public QObject
{
    Q_OBJECT

public:
    AppLog(const QString& directory, const QString& fileName, quint16 maxLines, quint16 maxFiles,
           QObject* parent = nullptr);

public slots:
    void write(const QString& label, const QString& tagDbReference, const QString& logMessage);

private:
    void rotateFiles();
    QString numberedName(int number) const;
    void openCurrentFile();

    const QString m_fileName;
    QFile* m_logFile;
    const quint16 m_maxFiles;
    const quint16 m_maxLines;
    quint16 m_fileNo = 0;
    quint32 m_lineCount = 0;
};

#endif
