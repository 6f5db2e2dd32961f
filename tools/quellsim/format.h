// Text formatting for quellsim's reports: the fmt library, used header-only so that the
// 32-bit build needs no 32-bit copy of it.
#pragma once

#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#include <fmt/format.h>
