#ifndef KELMEDIAREMOTE_H
#define KELMEDIAREMOTE_H

#define KEL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Turns the calling process into a bridge to the system's now-playing service:
 * from now on the now-playing state leaves as JSON lines on standard output, and
 * commands ("play", "pause", "toggle", "next", "previous", "seek SECONDS",
 * "refresh") are read as lines from standard input. Call it once, on the main
 * thread. It never returns: the process exits with status 0 when standard input
 * ends, and with status 2, after the line {"error":"unavailable"}, when the service
 * cannot be bound. A second call, from any thread, starts nothing and never
 * returns; the bridge of the first call goes on.
 *
 *   void* library = dlopen("libkelmediaremote.so.1", RTLD_NOW);
 *   ((void (*)(void))dlsym(library, "kel_mediaremote_run"))();
 */
KEL_API void kel_mediaremote_run(void) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif
