#ifndef NORVIK_SYSTEM_TSAN_H
#define NORVIK_SYSTEM_TSAN_H

// Qt is not built with the thread sanitizer, so the locks inside its event
// queue and QThread::wait() are invisible to it. Where ownership of data
// passes from one thread to another through Qt alone, these mark the hand
// over explicitly: RELEASE on the giving side, ACQUIRE on the taking side,
// on the same address. They compile to nothing in ordinary builds.

#if defined(__SANITIZE_THREAD__)
#define NORVIK_TSAN_ENABLED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NORVIK_TSAN_ENABLED 1
#endif
#endif

#ifdef NORVIK_TSAN_ENABLED
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define NORVIK_TSAN_RELEASE(addr) __tsan_release(static_cast<void*>(addr))
#define NORVIK_TSAN_ACQUIRE(addr) __tsan_acquire(static_cast<void*>(addr))
#else
#define NORVIK_TSAN_RELEASE(addr) static_cast<void>(0)
#define NORVIK_TSAN_ACQUIRE(addr) static_cast<void>(0)
#endif

// Tokens for hand-overs between parts that share no object: bytes read from the
// serial line travel through two queued signals to the service thread.
inline char norvikTsanSerialBytes;

#endif
