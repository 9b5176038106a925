// Must not compile: core's include root holds core alone, so a window header is out of reach.
#include "gui/app/ui_seams.h"
