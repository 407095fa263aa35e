#ifndef NORVIK_APPCONFIG_H
#define NORVIK_APPCONFIG_H

#include "data.h"

// One entry of an application's configuration or key table; every column of
// its row is also kept as a field.
class AppConfig : public Data
{
    Q_OBJECT

public:
    AppConfig(const QString& key, const QString& label, const QString& value,
              QObject* parent = nullptr);

    Q_INVOKABLE QString getLabel() const { return label; }
    Q_INVOKABLE QString getValue() const { return value; }

private:
    QString label;
    QString value;
};

#endif
