#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRollingPairs{};

}  // namespace quarnel::bindings
