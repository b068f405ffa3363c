#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRobust{};

}  // namespace quarnel::bindings
