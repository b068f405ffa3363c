#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kMatrix{};

}  // namespace quarnel::bindings
