// Pieces of the static C++ runtime that the shipping build replaces with smaller ones. Built
// without exceptions, this program can catch none: whatever the library would throw (a length
// error, an index out of range, no memory for a string) can only end in std::terminate and
// abort(). The library's own throwing functions and its verbose terminate handler bring along
// the demangler, printf with floating point, a second (copy-on-write) string and the exception
// classes, about 110 KB, to print a message on a console no user sees before that same abort().
// The test builds keep exceptions and the library's own versions.
#include <cstdlib>
#include <exception>
#include <stdexcept>

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
}  // namespace std

#endif
