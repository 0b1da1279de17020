/* The interpreter as a ThreadSanitizer program: the interpreter's own library (libpython), with
 * ThreadSanitizer's runtime linked into this executable.
 *
 * Preloading the runtime's shared library into an uninstrumented python does not work with clang
 * 14 from Debian: that library needs libstdc++, whose initialisation calls an intercepted function
 * before the runtime has set itself up (a crash at start). Linked into an executable, the runtime
 * starts before any library does, and its interceptors take every library's calls to pthread and
 * the allocator, the interpreter's included: the GIL is a pthread mutex and condition variable, so
 * ThreadSanitizer sees each hand-off of the GIL as the synchronisation it is. It is linked by the
 * C++ driver, which brings the runtime's C++ part: without it the guards of function-local statics
 * (__cxa_guard_acquire and _release) go unintercepted, and a static that one thread initialised
 * while another waited for it is reported as a race. */
#include <Python.h>

int main(int argc, char** argv) { return Py_BytesMain(argc, argv); }
