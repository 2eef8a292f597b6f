// Freed memory is filled in this suite's runs, so a read through a dangling reference
// inside Qt (which is not instrumented) turns into a crash instead of reading old values.
extern "C" const char* __asan_default_options() { return "max_free_fill_size=4096:free_fill_byte=190"; }
