#include "tests/support/host_fixture.h"
