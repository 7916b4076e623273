// Parts of the C++ runtime replaced by smaller ones for the setup programs.
// Defined here, in the program, the runtime's own definitions are never
// linked; a definition missing here would bring the runtime's back and stop
// the link with a duplicate symbol, so the set below is complete.
//
// The verbose terminate handler writes the pending exception's demangled
// type name to the standard error stream, which a Windows program without a
// console never shows; it brings the demangler and the printf family. This
// one ends the program the way the runtime's does once it has written.
//
// The error-reporting entries of the standard library: those that raise an
// exception carrying a message (length_error, out_of_range and their kin)
// bring the copy-on-write string and every exception class with them. The
// setup catches none of them, so each ended the program through
// std::terminate; they now end it at once, the same way. The allocation
// failures stay exceptions: extraction catches std::bad_alloc and fails
// cleanly.
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }
}  // namespace std
