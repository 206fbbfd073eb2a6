#pragma once
// The current data combined element by element with the memory over the
// active data region, the variances following when they exist: the keyboard
// commands ADD, SUBTRACT and MULTIPLY and the graphical maths menu.

#include "core/types.hpp"

namespace kesta {

enum class MemoryOperation { kAdd, kSubtract, kMultiply };

void kzt_combine_memory(MemoryOperation operation, bool variances, Status& status);

}  // namespace kesta
