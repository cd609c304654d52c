/* A C program as its developer builds one with pkg-config: it links the library
   (cc consumer.c $(pkg-config --cflags --libs kelmediaremote)) and calls the
   entry itself. */
#include "kelmediaremote.h"

int main(void) {
  kel_mediaremote_run();
}
