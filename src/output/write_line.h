#pragma once

#include "output/record.h"

namespace kel {

// Any context. Writes record to standard output as one compact JSON object and a
// line feed, in one write, flushed, under the standard-output lock so that lines
// never interleave or get cut. Writes nothing when the record holds a number that
// is NaN or infinite.
void writeLine(const Record& record);

}  // namespace kel
