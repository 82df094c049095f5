#include "editor/Knobs.h"
