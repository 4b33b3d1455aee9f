// fontconfig 2.14 keeps a pattern it allocates while substituting a request
// with a weight (a leak inside the library). LeakSanitizer reads this list when
// the program is built with AddressSanitizer; other builds never call it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
