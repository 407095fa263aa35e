#include "norvik_link_defines.h"

NorvikLinkDefines::NorvikLinkDefines(QObject* parent)
    : QObject(parent)
{
}
