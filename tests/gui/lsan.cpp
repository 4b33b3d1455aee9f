// fontconfig 2.14 keeps a pattern it allocates while substituting a request with
// a weight (a leak inside the library, seen with a ten-line program of its own).
// LeakSanitizer reads this list when the tests run under AddressSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
