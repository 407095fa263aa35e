#include "appconfig.h"

AppConfig::AppConfig(const QString& key, const QString& label, const QString& value,
                     QObject* parent)
    : Data(key, parent)
    , label(label)
    , value(value)
{
}
