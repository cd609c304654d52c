#include "output/write_line.h"

namespace kel {

// Placeholder until the JSON text writer lands.
void writeLine(const Record&) {}

}  // namespace kel
