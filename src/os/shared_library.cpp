#include "os/shared_library.h"

#include <dlfcn.h>

void* OpenSharedLibrary(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

// dlsym on a handle also searches the libraries that one needs, in load order.
void* SharedLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }
