// fontconfig keeps a pattern cache for the life of the process; the leak
// checker of sanitized builds asks for this list at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
