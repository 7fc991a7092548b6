// Small stand-ins for pieces of the C++ runtime that the stub would otherwise
// link whole. Linked into the stub only: its own definitions come before the
// library's, so the library's objects (and everything they drag along) stay
// out. A symbol missing here makes the link fail with a duplicate definition,
// never a silent mix.
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

// The library's default terminate handler prints the demangled type of the
// exception, which brings in the whole demangler (about 45 KB); a program
// without a console has nowhere to print it anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The container and string code reports misuse through these functions. The
// library's versions build std::logic_error and friends, which hold the
// old reference-counted string and pull in its whole implementation (about
// 45 KB). Here they throw one light class with the same what() text; nothing
// in the program catches these by type, only with catch (...).
namespace {
class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* what) : what_(what ? what : "library error") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;
};
}  // namespace

namespace std {
void __throw_bad_exception() { throw std::bad_exception(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_bad_cast() { throw std::bad_cast(); }
void __throw_bad_typeid() { throw std::bad_typeid(); }
void __throw_logic_error(const char* s) { throw LibraryError(s); }
void __throw_domain_error(const char* s) { throw LibraryError(s); }
void __throw_invalid_argument(const char* s) { throw LibraryError(s); }
void __throw_length_error(const char* s) { throw LibraryError(s); }
void __throw_out_of_range(const char* s) { throw LibraryError(s); }
// The format is kept as it is: formatting it would need printf.
void __throw_out_of_range_fmt(const char* fmt, ...) { throw LibraryError(fmt); }
void __throw_runtime_error(const char* s) { throw LibraryError(s); }
void __throw_range_error(const char* s) { throw LibraryError(s); }
void __throw_overflow_error(const char* s) { throw LibraryError(s); }
void __throw_underflow_error(const char* s) { throw LibraryError(s); }
}  // namespace std

// ---- threads ----
// The exception runtime (unwinder, emergency pool, thread-local storage
// emulation) and the clocks call nine functions of winpthread; linking the
// library for them brings its whole thread implementation (about 30 KB). These
// stand-ins keep the same contracts over kernel32: mutexes are lazily created
// critical sections, keys are TLS slots, once-flags are interlocked. The stub
// starts no threads of its own; if code ever does (std::thread), winpthread's
// own objects come in and the link fails on the duplicates, so this file
// must then go.
namespace {
// pthread_mutex_t holds a pointer to the critical section, or one of the
// static initialiser values (-1, -2, -3) until first use.
CRITICAL_SECTION* MutexSection(pthread_mutex_t* m) {
  intptr_t v = *reinterpret_cast<volatile intptr_t*>(m);
  if (v != 0 && (v < -3 || v > 0)) return reinterpret_cast<CRITICAL_SECTION*>(v);
  auto* cs = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
  if (!cs) return nullptr;
  InitializeCriticalSection(cs);
  void* old = InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(m), cs, reinterpret_cast<void*>(v));
  if (old == reinterpret_cast<void*>(v)) return cs;
  DeleteCriticalSection(cs);  // another thread was first
  HeapFree(GetProcessHeap(), 0, cs);
  return reinterpret_cast<CRITICAL_SECTION*>(old);
}
}  // namespace

extern "C" {
int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t*) {
  *m = PTHREAD_MUTEX_INITIALIZER;  // the section is made on first use
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* m) {
  intptr_t v = *m;
  *m = PTHREAD_MUTEX_INITIALIZER;
  if (v != 0 && (v < -3 || v > 0)) {
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(v));
    HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(v));
  }
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
  CRITICAL_SECTION* cs = MutexSection(m);
  if (!cs) return ENOMEM;
  EnterCriticalSection(cs);
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* m) {
  CRITICAL_SECTION* cs = MutexSection(m);
  if (!cs) return EINVAL;
  LeaveCriticalSection(cs);
  return 0;
}

// 0 = not run, 1 = running, 2 = done.
int pthread_once(pthread_once_t* once, void (*fn)(void)) {
  volatile LONG* state = reinterpret_cast<volatile LONG*>(once);
  if (*state == 2) return 0;
  if (InterlockedCompareExchange(state, 1, 0) == 0) {
    fn();
    InterlockedExchange(state, 2);
    return 0;
  }
  while (*state != 2) Sleep(0);
  return 0;
}

// The destructor is not run at thread exit: the only thread that uses keys is
// the main thread, whose end is the process's end.
int pthread_key_create(pthread_key_t* key, void (*)(void*)) {
  DWORD index = TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) return EAGAIN;
  *key = pthread_key_t(index);
  return 0;
}

void* pthread_getspecific(pthread_key_t key) { return TlsGetValue(DWORD(key)); }

int pthread_setspecific(pthread_key_t key, const void* value) {
  return TlsSetValue(DWORD(key), const_cast<void*>(value)) ? 0 : ENOMEM;
}

int clock_gettime(clockid_t id, struct timespec* tp) {
  if (id == CLOCK_REALTIME) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    // 100 ns units since 1601-01-01; the Unix epoch is 11644473600 s later.
    uint64_t t = (uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000ull;
    tp->tv_sec = time_t(t / 10000000);
    tp->tv_nsec = long(t % 10000000 * 100);
    return 0;
  }
  if (id == CLOCK_MONOTONIC) {
    LARGE_INTEGER count, freq;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&count);
    tp->tv_sec = time_t(count.QuadPart / freq.QuadPart);
    tp->tv_nsec = long((count.QuadPart % freq.QuadPart) * 1000000000 / freq.QuadPart);
    return 0;
  }
  errno = EINVAL;
  return -1;
}
}  // extern "C"
