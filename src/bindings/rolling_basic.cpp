#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRollingBasic{};

}  // namespace quarnel::bindings
