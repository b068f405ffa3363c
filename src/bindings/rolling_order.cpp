#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRollingOrder{};

}  // namespace quarnel::bindings
