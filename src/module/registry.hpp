#pragma once

#include <vector>

#include "module/function.hpp"

namespace quarnel::py {

// One registered attribute: a function or a class, never both.
struct Registered {
    const FunctionDef* function;
    const ClassDef* cls;
};

// The attributes to register, in module order.
std::vector<Registered> registration_order();

}  // namespace quarnel::py
