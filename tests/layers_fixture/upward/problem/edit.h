// A problem-layer header that reaches up into the optimiser.
#include "problem/store.h"
#include "simplex/lp_driver.h"
