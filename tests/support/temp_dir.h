#pragma once
#include "tests/support/common.h"
