#pragma once
// Core Foundation strings as the core reads them.

#include <CoreFoundation/CoreFoundation.h>

#include <string_view>

#include "text/text_store.h"

namespace kel {

// Any thread. The string's UTF-8 text, converted into store from its UTF-16 code
// units (see TextStore::keepUtf16).
std::string_view keepString(CFStringRef string, TextStore& store);

// Any thread. A new string of UTF-8 text, which the caller releases; null when the
// text is not valid UTF-8.
CFStringRef createString(std::string_view text);

}  // namespace kel
