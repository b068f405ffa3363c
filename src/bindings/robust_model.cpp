#include "bindings/families.hpp"

namespace quarnel::bindings {

const py::FamilyTable kRobustModel{};
const py::ClassDef kRobustStatsClass{"RobustStats", nullptr};

}  // namespace quarnel::bindings
