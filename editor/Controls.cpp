#include "editor/Controls.h"
