#pragma once

#include "output/record.h"

namespace kel {

// Any context. Writes record to standard output as one compact JSON object and a
// line feed, whole, under the standard-output lock so that lines never interleave
// or get cut; returns true once it is written. Writes nothing and returns false
// when the record holds a number that is NaN or infinite, and when standard output
// has failed: after an error other than an interrupted or would-block write (the
// reader has gone), no further line is written, as it would follow a cut one.
bool writeLine(const Record& record);

}  // namespace kel
