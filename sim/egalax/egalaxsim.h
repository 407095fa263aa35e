#ifndef EGALAXSIM_H
#define EGALAXSIM_H

// Hooks of the touch library stand-in (libeGalaxPCAP.so built from sim/egalax):
// they steer its simulated controller and read back what the library did to it.
// All of them are safe from any thread.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The vendor calls, with FingerGloveMode split into its read and its write.
enum EgalaxSimCall {
    EGALAX_OPEN_DEVICE,
    EGALAX_CLOSE_DEVICE,
    EGALAX_SOFT_RESTART,
    EGALAX_GET_MODEL_NAME,
    EGALAX_GET_TYPE_NAME,
    EGALAX_GET_VERSION_NAME,
    EGALAX_GET_STATE_INFO,
    EGALAX_GET_TOUCH_STATE,
    EGALAX_SET_TOUCH_STATE,
    EGALAX_READ_FINGER_GLOVE,
    EGALAX_WRITE_FINGER_GLOVE,
    EGALAX_CALL_KINDS
};

// Back to a powered-up controller: closed, touch on, finger mode (byte 0), state
// word 0, the default names, no failures, all counters 0.
void egalaxSimReset(void);

// The next `after` calls of that kind succeed, the `times` after them fail
// (times < 0: every one after them; times 0 clears). A failing call changes nothing.
void egalaxSimFail(enum EgalaxSimCall call, int after, int times);

// The state word GetDevStateInfo reports from now on.
void egalaxSimSetStateWord(uint32_t word);

// How often the call was made since the last reset (failed calls included).
int egalaxSimCallCount(enum EgalaxSimCall call);

// What the controller holds: open or not, touch state, finger/glove byte.
int egalaxSimIsOpen(void);
int egalaxSimTouchState(void);
int egalaxSimFingerGlove(void);
// The argument of the last soft restart (-1: none since the reset).
int egalaxSimLastRestartMode(void);

#ifdef __cplusplus
}
#endif

#endif
