// Pieces of the static C++ runtime that the shipping build replaces with smaller ones. Built
// without exceptions, this program can catch none: whatever the library would throw (a length
// error, an index out of range, no memory for a string) can only end in std::terminate and
// abort(). The library's own throwing functions and its verbose terminate handler bring along
// the demangler, printf with floating point, a second (copy-on-write) string and the exception
// classes, about 110 KB, to print a message on a console no user sees before that same abort().
// The library's thread-safe statics, operator new and string instantiations bring the unwinder,
// its tables and the POSIX thread library, another 90 KB; the versions here do the same work
// with Windows' own primitives. The test builds keep exceptions and the library's own versions.
#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include <windows.h>

#if !defined(__cpp_exceptions)

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx

// Each defined here keeps the library's functexcept object, and all it pulls in, out of the link;
// one left out brings that object back and the link fails on the duplicates.
namespace std {
void __throw_bad_exception() { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }
void __throw_bad_function_call() { std::abort(); }
}  // namespace std

// Allocation as the standard says, less the bad_alloc that nothing here could catch.
namespace {
void* Allocate(std::size_t size, bool orNull)
{
    for (;;) {
        if (void* memory = std::malloc(size ? size : 1))
            return memory;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) {
            if (orNull)
                return nullptr;
            std::abort();
        }
        handler();
    }
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size, false); }
void* operator new[](std::size_t size) { return Allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }

// Function-local statics: the first byte of the guard says "done" (the compiler reads it inline),
// the second word holds the thread that is constructing. Another thread waits for it; the same
// thread coming back means a static whose construction needs itself, which can only abort.
namespace __cxxabiv1 {
namespace {
volatile LONG* Owner(__guard* guard) { return reinterpret_cast<volatile LONG*>(guard) + 1; }
bool Done(__guard* guard) { return __atomic_load_n(reinterpret_cast<char*>(guard), __ATOMIC_ACQUIRE); }
}  // namespace

extern "C" int __cxa_guard_acquire(__guard* guard)
{
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    while (!Done(guard)) {
        const LONG owner = InterlockedCompareExchange(Owner(guard), self, 0);
        if (owner == 0) {
            if (!Done(guard))
                return 1;
            InterlockedExchange(Owner(guard), 0);
            break;
        }
        if (owner == self)
            std::abort();
        if (!SwitchToThread())
            Sleep(1);
    }
    return 0;
}

extern "C" void __cxa_guard_release(__guard* guard)
{
    __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
    InterlockedExchange(Owner(guard), 0);
}

extern "C" void __cxa_guard_abort(__guard* guard) { InterlockedExchange(Owner(guard), 0); }
}  // namespace __cxxabiv1

// The strings' members from this object, at -Os and without landing pads: the library's copies
// come with unwind tables for every member of the class, used or not.
template class std::basic_string<char>;
template class std::basic_string<wchar_t>;

#endif
