#include "configfile.h"

#include "error.h"

#include <QDebug>
#include <QFile>
#include <QStringList>

namespace {

// A line as read (terminator included), decoded as UTF-8 up to its first NUL.
QString decodeLine(const QByteArray& line)
{
    const int nul = line.indexOf('\0');
    return QString::fromUtf8(line.constData(), nul < 0 ? line.size() : nul);
}

QByteArray chopLineFeed(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    return line;
}

} // namespace

ConfigFile::ConfigFile(const QString& path, QObject* parent)
    : QObject(parent)
    , filePath(path)
{
    loadFile(path);
}

QString ConfigFile::getValue(const QString& rowKey, const QString& columnKey) const
{
    const auto row = values.constFind(rowKey);
    if (row == values.constEnd())
        return QString();
    return row->value(columnKey);
}

QVector<QString> ConfigFile::getAllTags() const
{
    return rowKeys;
}

QVector<QString> ConfigFile::getAllColumnKeys() const
{
    return columnKeys;
}

QMap<QString, QString> ConfigFile::getAllColumns() const
{
    return columns;
}

bool ConfigFile::keyExists(const QString& rowKey) const
{
    return values.contains(rowKey);
}

bool ConfigFile::columnExists(const QString& columnKey) const
{
    return columnKeys.contains(columnKey);
}

bool ConfigFile::loadFile(const QString& path)
{
    tagColumnKey.clear();
    columnCount = 0;
    rowCount = 0;
    values.clear();
    rowKeys.clear();
    columns.clear();
    columnKeys.clear();

    // Binary mode: a carriage return stays in the line and is removed only by
    // simplification, so CR LF files read like LF files.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Load Configurations File Error: ") + path
                + QLatin1Char(' ') + file.errorString();
        return true;
    }
    QVector<QByteArray> lines;
    while (!file.atEnd())
        lines.append(file.readLine());
    file.close();

    for (int i = 0; i < lines.size(); ++i) {
        const QStringList fields = decodeLine(lines.at(i)).split(QLatin1Char(';'));
        if (i == 0) {
            tagColumnKey = fields.first().simplified();
            columnKeys.reserve(fields.size());
            for (const QString& field : fields) {
                columnKeys.append(field.simplified());
                ++columnCount;
            }
        } else if (i == 1) {
            const int n = qMin(fields.size(), columnKeys.size());
            for (int j = 0; j < n; ++j)
                columns.insert(columnKeys.at(j), fields.at(j).simplified());
        } else if (fields.size() <= columnKeys.size() && !fields.first().isEmpty()) {
            const QString& key = fields.first();
            QMap<QString, QString> row;
            for (int j = 0; j < fields.size(); ++j)
                row.insert(columnKeys.at(j), fields.at(j).simplified());
            rowKeys.append(key);
            values.insert(key, row);
            ++rowCount;
        } else {
            qWarning().noquote() << "Invalid line in" << path << "line" << i + 1;
        }
    }
    return true;
}

bool ConfigFile::addChangeTag(QString rowKey, QString columnKey, QString value)
{
    NORVIK_ASSERT(rowKey != columnKey);

    if (!columnExists(columnKey)) {
        qWarning().noquote() << QStringLiteral("Trying to change columnkey: ") + columnKey
                + QStringLiteral(" that does not exists in file: ") + filePath;
        return false;
    }
    QMap<QString, QString> row;
    if (!keyExists(rowKey)) {
        qInfo().noquote() << QStringLiteral("Makinq new tag: ") + rowKey
                + QStringLiteral(" because it does not exists in file: ") + filePath;
        for (const QString& key : qAsConst(columnKeys))
            row.insert(key, key == tagColumnKey ? rowKey : QStringLiteral("0"));
        rowKeys.append(rowKey);
    } else {
        row = values.value(rowKey);
    }
    row.insert(columnKey, value);
    values.insert(rowKey, row);
    return writeData();
}

bool ConfigFile::rewrite(const QByteArray& rows) const
{
    // The column-key and label lines are kept as the file has them.
    QByteArray header;
    {
        QFile file(filePath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return false;
        for (int i = 0; i < 2; ++i) {
            if (file.atEnd())
                return false;
            header += chopLineFeed(file.readLine()) + '\n';
        }
    }
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray out = header + rows;
    return file.write(out) == out.size();
}

bool ConfigFile::writeData()
{
    QByteArray rows;
    const QString lastColumn = columnKeys.isEmpty() ? QString() : columnKeys.last();
    for (const QString& rowKey : qAsConst(rowKeys)) {
        const auto row = values.constFind(rowKey);
        for (const QString& columnKey : qAsConst(columnKeys)) {
            if (row != values.constEnd())
                rows += row->value(columnKey).toUtf8();
            if (columnKey != lastColumn)
                rows += ';';
        }
        rows += '\n';
    }
    return rewrite(rows);
}

bool ConfigFile::removeAllData()
{
    if (!rewrite(QByteArray()))
        return false;
    loadFile(filePath);
    return true;
}
