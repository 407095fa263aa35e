// Stand-in for the touch controller's library: the vendor calls with C linkage
// on a simulated controller (open flag, touch state, finger/glove byte, state
// word, names), plus the hooks of egalaxsim.h. One mutex guards everything.

#include "egalaxsim.h"
#include "egalaxpcap_calls.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

struct FailPlan
{
    int after = 0; // successful calls still to come before the failures
    int times = 0; // failures to come; negative: no end
};

struct Controller
{
    bool open = false;
    unsigned char touch = 1;
    unsigned char fingerGlove = 0;
    uint32_t stateWord = 0;
    int lastRestart = -1;
    int calls[EGALAX_CALL_KINDS] = {};
    FailPlan plans[EGALAX_CALL_KINDS];
};

std::mutex mutex;
Controller controller;

const char MODEL[] = "desk touch panel";
const char TYPE[] = "PCAP";
const char VERSION[] = "sim 1.0";

// Counts the call and says whether it goes through: fails when planned, and
// every call but OpenDevice fails on a closed device.
bool admit(EgalaxSimCall call)
{
    ++controller.calls[call];
    FailPlan& plan = controller.plans[call];
    if (plan.times != 0) {
        if (plan.after > 0) {
            --plan.after;
        } else {
            if (plan.times > 0)
                --plan.times;
            return false;
        }
    }
    return call == EGALAX_OPEN_DEVICE || controller.open;
}

int copyName(EgalaxSimCall call, const char* name, char* buffer)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(call) || !buffer)
        return 0;
    // Only the name's bytes are written, at most 63: the NUL comes from the
    // caller's cleared 64-byte buffer, as the callers of the real library expect.
    std::memcpy(buffer, name, std::min<size_t>(std::strlen(name), PCAP_NAME_BUFFER_SIZE - 1));
    return 1;
}

} // namespace

extern "C" {

int OpenDevice(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_OPEN_DEVICE))
        return 0;
    controller.open = true;
    return 1;
}

int CloseDevice(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_CLOSE_DEVICE))
        return 0;
    controller.open = false;
    return 1;
}

int EX5960SoftRestart(int mode)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_SOFT_RESTART))
        return 0;
    controller.lastRestart = mode;
    return 1;
}

int GetDevModelName(char* name)
{
    return copyName(EGALAX_GET_MODEL_NAME, MODEL, name);
}

int GetDevTypeName(char* name)
{
    return copyName(EGALAX_GET_TYPE_NAME, TYPE, name);
}

int GetDevVersionName(char* name)
{
    return copyName(EGALAX_GET_VERSION_NAME, VERSION, name);
}

int GetDevStateInfo(uint32_t* info)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_GET_STATE_INFO) || !info)
        return 0;
    *info = controller.stateWord;
    return 1;
}

// The panel is addressed as 2; the controller knows no other.
int PCAPGetTouchState(int panel, unsigned char* state)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_GET_TOUCH_STATE) || panel != PCAP_TOUCH_PANEL || !state)
        return 0;
    *state = controller.touch;
    return 1;
}

int PCAPSetTouchState(int panel, unsigned char state)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit(EGALAX_SET_TOUCH_STATE) || panel != PCAP_TOUCH_PANEL || state > 1)
        return 0;
    controller.touch = state;
    return 1;
}

int FingerGloveMode(int write, unsigned char* mode)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (write != PCAP_READ && write != PCAP_WRITE)
        return 0;
    if (!admit(write == PCAP_WRITE ? EGALAX_WRITE_FINGER_GLOVE : EGALAX_READ_FINGER_GLOVE) || !mode)
        return 0;
    if (write == PCAP_WRITE)
        controller.fingerGlove = *mode;
    else
        *mode = controller.fingerGlove;
    return 1;
}

void egalaxSimReset(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    controller = Controller();
}

void egalaxSimFail(enum EgalaxSimCall call, int after, int times)
{
    std::lock_guard<std::mutex> lock(mutex);
    controller.plans[call] = FailPlan { after < 0 ? 0 : after, times };
}

void egalaxSimSetStateWord(uint32_t word)
{
    std::lock_guard<std::mutex> lock(mutex);
    controller.stateWord = word;
}

int egalaxSimCallCount(enum EgalaxSimCall call)
{
    std::lock_guard<std::mutex> lock(mutex);
    return controller.calls[call];
}

int egalaxSimIsOpen(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    return controller.open;
}

int egalaxSimTouchState(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    return controller.touch;
}

int egalaxSimFingerGlove(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    return controller.fingerGlove;
}

int egalaxSimLastRestartMode(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    return controller.lastRestart;
}

} // extern "C"
