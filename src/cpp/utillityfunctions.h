#ifndef UTILLITYFUNCTIONS_H
#define UTILLITYFUNCTIONS_H

#include <QString>

// The remote-control state as the "state" tag carries it.
enum RC_STATE_T {
    RC_STATE_SELECTED = 1,
    RC_STATE_ARMED = 2,
    RC_STATE_ENABLED = 3,
    RC_STATE_STOP = 4,
    RC_STATE_FAILED = 5,
    RC_STATE_WAITING = 6,
    RC_STATE_POWERING_DOWN = 7,
    RC_STATE_NO_RI_LINK = 8
};

// The log text of a state; "Unknown state: <n>" for any other value.
QString RCStateToString(RC_STATE_T state);

#endif
