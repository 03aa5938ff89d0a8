// An optimiser header that reaches only down, and a generated header.
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "simplex/kernel.h"
