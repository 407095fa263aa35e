#include "applog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSet>

AppLog::AppLog(const QString& directory, const QString& fileName, quint16 maxLines,
               quint16 maxFiles, QObject* parent)
    : QObject(parent)
    , m_fileName(directory + QLatin1Char('/') + fileName)
    , m_logFile(new QFile(this))
    , m_maxFiles(qMax<quint16>(maxFiles, 2))
    , m_maxLines(maxLines)
{
    const QStringList entries = QDir(directory).entryList({ fileName + QStringLiteral("_*") },
                                                          QDir::Files | QDir::CaseSensitive);
    // Numbers of the listed files, written in decimal without leading zeros.
    const QString prefix = fileName + QLatin1Char('_');
    QSet<int> listed;
    int newest = -1;
    for (const QString& entry : entries) {
        if (!entry.startsWith(prefix))
            continue;
        const QString digits = entry.mid(prefix.size());
        bool ok = false;
        const int n = digits.toInt(&ok);
        if (!ok || n < 0 || n > 65535 || digits != QString::number(n))
            continue;
        listed.insert(n);
        newest = qMax(newest, n);
    }

    if (newest >= 0 && newest <= m_maxFiles - 1) {
        m_fileNo = static_cast<quint16>(newest);
    } else if (newest >= m_maxFiles) {
        // More files than are kept: drop the oldest, renumber the rest from 0.
        for (int k = 0; k <= newest - m_maxFiles; ++k) {
            if (listed.contains(k))
                QFile::remove(numberedName(k));
        }
        const int offset = newest - m_maxFiles + 1;
        for (int j = 0; j < m_maxFiles; ++j) {
            if (!listed.contains(j + offset))
                continue;
            QFile::remove(numberedName(j));
            QFile::rename(numberedName(j + offset), numberedName(j));
        }
        m_fileNo = m_maxFiles - 1;
    }

    openCurrentFile();
    if (m_logFile->isOpen()) {
        while (!m_logFile->readLine().isEmpty())
            ++m_lineCount;
    }
}

QString AppLog::numberedName(int number) const
{
    return m_fileName + QLatin1Char('_') + QString::number(number);
}

void AppLog::openCurrentFile()
{
    m_logFile->setFileName(numberedName(m_fileNo));
    m_logFile->open(QIODevice::ReadWrite | QIODevice::Text);
}

void AppLog::write(const QString& label, const QString& tagDbReference, const QString& logMessage)
{
    if (m_lineCount >= m_maxLines)
        rotateFiles();
    const QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(';')
        + label + QLatin1Char(';') + tagDbReference + QLatin1Char(';') + logMessage
        + QLatin1Char('\n');
    if (m_logFile->isOpen()) {
        m_logFile->write(line.toUtf8());
        m_logFile->flush();
    }
    ++m_lineCount;
}

void AppLog::rotateFiles()
{
    m_logFile->close();
    ++m_fileNo;
    if (m_fileNo >= m_maxFiles) {
        QFile::remove(numberedName(0));
        for (int k = 1; k < m_maxFiles; ++k)
            QFile::rename(numberedName(k), numberedName(k - 1));
        m_fileNo = m_maxFiles - 1;
    }
    QFile::remove(numberedName(m_fileNo));
    openCurrentFile();
    m_lineCount = 0;
}
