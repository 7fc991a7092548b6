// Small stand-ins for pieces of the C++ runtime that the stub would otherwise
// link whole. Linked into the stub only: its own definitions come before the
// library's, so the library's objects (and everything they drag along) stay
// out. A symbol missing here makes the link fail with a duplicate definition,
// never a silent mix.
//
// The stub is built without C++ exceptions: the library pieces that would
// throw end the process instead, as an uncaught exception did before. Any
// library object that still carried exception code would bring the whole
// exception runtime back (unwinder, personality, emergency pool: about
// 25 KB), which is why operator new, the clocks and the throw helpers are
// defined here.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {
// What an uncaught exception did: end the process at once, without a
// message (a program without a console has nowhere to print it).
[[noreturn]] void RuntimeFailure() { std::abort(); }
}  // namespace

// Out of memory ends the process, as an unhandled std::bad_alloc did.
void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) RuntimeFailure();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

// The container, string and function code reports misuse through these
// functions; the library's versions build and throw std::logic_error and
// friends.
namespace std {
void __throw_bad_exception() { RuntimeFailure(); }
void __throw_bad_alloc() { RuntimeFailure(); }
void __throw_bad_array_new_length() { RuntimeFailure(); }
void __throw_bad_cast() { RuntimeFailure(); }
void __throw_bad_typeid() { RuntimeFailure(); }
void __throw_bad_function_call() { RuntimeFailure(); }
void __throw_logic_error(const char*) { RuntimeFailure(); }
void __throw_domain_error(const char*) { RuntimeFailure(); }
void __throw_invalid_argument(const char*) { RuntimeFailure(); }
void __throw_length_error(const char*) { RuntimeFailure(); }
void __throw_out_of_range(const char*) { RuntimeFailure(); }
void __throw_out_of_range_fmt(const char*, ...) { RuntimeFailure(); }
void __throw_runtime_error(const char*) { RuntimeFailure(); }
void __throw_range_error(const char*) { RuntimeFailure(); }
void __throw_overflow_error(const char*) { RuntimeFailure(); }
void __throw_underflow_error(const char*) { RuntimeFailure(); }

// The library's clocks sit in an object built with exception tables.
namespace chrono {
inline namespace _V2 {
system_clock::time_point system_clock::now() noexcept {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  // 100 ns units since 1601-01-01; the Unix epoch is 11644473600 s later.
  int64_t t = int64_t(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - 116444736000000000LL;
  return time_point(duration(t * 100));
}
steady_clock::time_point steady_clock::now() noexcept {
  LARGE_INTEGER count, freq;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&count);
  int64_t s = count.QuadPart / freq.QuadPart, rest = count.QuadPart % freq.QuadPart;
  return time_point(duration(s * 1000000000 + rest * 1000000000 / freq.QuadPart));
}
}  // namespace _V2
}  // namespace chrono
}  // namespace std
