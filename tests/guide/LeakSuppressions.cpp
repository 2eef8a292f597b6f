// The font library keeps its configuration cache until exit; the leak checker would count
// it against the first test that draws text.

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
