// The library's exports live in the core's sources; this unit only anchors the module.
#include "sealform.h"
