#pragma once

#include "sim/Image.h"

namespace boxsim {

enum class Model { Kolvar22, Kolvar1 };

// A believable table as a box of the given model would send it: a handful of
// used associations among empty ones, a header, a clock and the device text.
Image sampleImage(Model model);

} // namespace boxsim
