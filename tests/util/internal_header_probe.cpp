// Compiled by the test UtilLayering.InternalHeaderIsOutOfReachOfOtherLibraries with the include
// roots another library gets from linking vexa_util: the include below must not be found.
#include "util/format_internal.h"
