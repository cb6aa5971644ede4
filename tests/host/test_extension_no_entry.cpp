// A module that loads but has no mexFunction, for the loader's error path.

extern "C" __attribute__((visibility("default"))) int notAnEntryPoint() { return 0; }
