#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRollingMulti{};

}  // namespace quarnel::bindings
