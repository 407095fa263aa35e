#include "utillityfunctions.h"

QString RCStateToString(RC_STATE_T state)
{
    switch (state) {
    case RC_STATE_SELECTED:
        return QStringLiteral("Selected");
    case RC_STATE_ARMED:
        return QStringLiteral("Armed");
    case RC_STATE_ENABLED:
        return QStringLiteral("Enabled");
    case RC_STATE_STOP:
        return QStringLiteral("Stop");
    case RC_STATE_FAILED:
        return QStringLiteral("Failed");
    case RC_STATE_WAITING:
        return QStringLiteral("Waiting");
    case RC_STATE_POWERING_DOWN:
        return QStringLiteral("Powering down");
    case RC_STATE_NO_RI_LINK:
        return QStringLiteral("No RI-Link");
    }
    return QStringLiteral("Unknown state: ") + QString::number(int(state));
}
