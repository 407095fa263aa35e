#ifndef OPERATIONGATE_H
#define OPERATIONGATE_H

// Operations that network clients may ask for and that each queue a packet on the
// internal link: arm, disarm and closing the application. The link carries one packet
// at a time and keeps every other one waiting, so a client repeating an operation
// faster than the link answers would only grow that queue, and the machine would act
// on requests long after they were made. One of each kind per `intervalMs` passes;
// the others are dropped with a log line once per burst. One gate serves every network
// interface of the process (REST and JSON alike).
class OperationGate
{
public:
    static constexpr int intervalMs = 100;

    // True when an operation of `kind` may run now.
    static bool admit(const char* kind);
};

#endif
