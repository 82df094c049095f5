#include "editor/Sliders.h"
