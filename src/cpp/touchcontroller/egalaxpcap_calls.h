#ifndef EGALAXPCAP_CALLS_H
#define EGALAXPCAP_CALLS_H

// The calls of the touch controller's library (libeGalaxPCAP) as this library
// makes them. Every call returns nonzero on success and leaves its output
// untouched on failure. Name buffers are 64 bytes, cleared before each call:
// the zeros after the name's bytes end it. The touch-state calls address the panel with a first
// argument of 2; FingerGloveMode reads with 0 and writes with 1.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { PCAP_NAME_BUFFER_SIZE = 64, PCAP_TOUCH_PANEL = 2, PCAP_READ = 0, PCAP_WRITE = 1 };

int OpenDevice(void);
int CloseDevice(void);
int EX5960SoftRestart(int mode);

int GetDevModelName(char* name);
int GetDevTypeName(char* name);
int GetDevVersionName(char* name);

int GetDevStateInfo(uint32_t* info);

int PCAPGetTouchState(int panel, unsigned char* state);
int PCAPSetTouchState(int panel, unsigned char state);

int FingerGloveMode(int write, unsigned char* mode);

#ifdef __cplusplus
}
#endif

#endif
