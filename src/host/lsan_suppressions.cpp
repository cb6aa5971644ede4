// Memory that system libraries keep for the life of the process (the font cache, D-Bus, the
// software OpenGL driver) is not ours to free. Built only into sanitizer builds, where
// LeakSanitizer reads these at exit; nothing else calls it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libdbus-1\nleak:swrast_dri\n";
}
