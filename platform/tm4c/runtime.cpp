// The little of the C++ runtime a heap-free image still names. Without
// these, a virtual destructor or a static object with a destructor would pull
// the library's versions, and with them free(), abort() and the exit path.
#include <cstddef>

// No heap: nothing is ever deleted. Deleting destructors still refer to it.
void operator delete(void *) noexcept { __builtin_trap(); }
void operator delete(void *, std::size_t) noexcept { __builtin_trap(); }

extern "C" {

// A pure virtual call is a bug; stop in the fault handler.
void __cxa_pure_virtual() { __builtin_trap(); }

// Static destructors never run: main does not return into anything.
void *__dso_handle = nullptr;
int __aeabi_atexit(void *, void (*)(void *), void *) { return 0; }
int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }
}
