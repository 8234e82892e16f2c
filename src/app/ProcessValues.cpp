#include "app/ProcessValues.h"

namespace pelk::app {

ProcessValues ProcessValues::standard()
{
    return ProcessValues {
        .terracotta = SrgbColor { .red = 0.84, .green = 0.29, .blue = 0.27, .opacity = 1.0 },
    };
}

} // namespace pelk::app
