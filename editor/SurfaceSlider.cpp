#include "editor/SurfaceSlider.h"
