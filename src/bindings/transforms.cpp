#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kTransforms{};

}  // namespace quarnel::bindings
