#ifndef NORVIK_CONFIGFILE_H
#define NORVIK_CONFIGFILE_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

// A semicolon-separated table file: line 1 holds the column keys, line 2 one
// label per column, every further line one row whose first field is the row
// key. The whole file is read once at construction; addChangeTag() and
// removeAllData() write it back.
class ConfigFile : public QObject
{
    Q_OBJECT

public:
    explicit ConfigFile(const QString& path, QObject* parent = nullptr);

    // The row's value in that column; empty when the row or column is absent.
    QString getValue(const QString& rowKey, const QString& columnKey) const;
    // Row keys in file order, one entry per accepted row (duplicates included).
    QVector<QString> getAllTags() const;
    QVector<QString> getAllColumnKeys() const;
    QMap<QString, QString> getAllColumns() const;
    bool keyExists(const QString& rowKey) const;
    bool columnExists(const QString& columnKey) const;

    // Sets one value (creating the row when needed) and rewrites the file.
    // rowKey and columnKey must differ.
    bool addChangeTag(QString rowKey, QString columnKey, QString value);
    // Deletes every row, keeping the column-key and label lines, and reloads.
    bool removeAllData();

    QString getFilePath() const { return filePath; }

private:
    bool loadFile(const QString& path);
    bool writeData();
    // Writes the file's first two lines back followed by rows; false unless
    // the file has both lines and could be rewritten.
    bool rewrite(const QByteArray& rows) const;

    QVector<QString> columnKeys;
    QMap<QString, QString> columns;
    QString tagColumnKey;
    QVector<QString> rowKeys;
    QMap<QString, QMap<QString, QString>> values;
    quint8 columnCount = 0;
    quint8 rowCount = 0;
    QString filePath;
};

#endif
