#pragma once

#include "module/frame.hpp"

namespace quarnel::py {

// Sets the internal-failure exception (a direct BaseException subclass, created on first
// use and never exposed as a module attribute).
void raise_internal_failure(const char* what);

}  // namespace quarnel::py
