#pragma once
// The protection judgement, shared with the package's custom actions.
#include "common/protection.h"
