#include "data.h"

Data::Data(const QString& tag, QObject* parent)
    : QObject(parent)
    , tag(tag)
{
}
