/* A host program as its developer would write one against the installed header:
   load the library named on the command line and hand it the main thread. */
#include <dlfcn.h>
#include <stdio.h>

#include "kelmediaremote.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  /* Called through the type the header declares. */
  __typeof__(kel_mediaremote_run)* run = (__typeof__(kel_mediaremote_run)*)dlsym(library, "kel_mediaremote_run");
  if (run == NULL) return 1;
  run();
}
