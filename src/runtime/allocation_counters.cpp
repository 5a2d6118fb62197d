#include "runtime/app_module.h"
