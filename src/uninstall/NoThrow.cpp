// Nothing in the uninstaller catches an exception, so any the standard
// library would throw (out of memory, a string too long) ends the process as
// an uncaught one does. Ending it here directly keeps the library's exception
// classes, their strings and the demangling terminate handler out of the
// program: they would be a quarter of its size.
#include <cstdlib>

namespace std {

[[noreturn]] void __throw_bad_alloc() {
    abort();
}
[[noreturn]] void __throw_bad_array_new_length() {
    abort();
}
[[noreturn]] void __throw_length_error(const char*) {
    abort();
}
[[noreturn]] void __throw_logic_error(const char*) {
    abort();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    abort();
}
[[noreturn]] void __throw_system_error(int) {
    abort();
}

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    abort();
}

}  // namespace __gnu_cxx
