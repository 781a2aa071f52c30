/* The least a shared library can be: one exported function and nothing else. Loading and
   unloading it is the floor of loading any library on the machine at hand. */
__attribute__((visibility("default"))) int MinimalModuleFunction(void) { return 1; }
