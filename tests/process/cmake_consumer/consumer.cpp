// Links the library through kelmediaremote::kelmediaremote and hands it the main
// thread; the header's include folder comes with the target.
#include "kelmediaremote.h"

int main() {
  kel_mediaremote_run();
}
