// Compiled with NEON enabled, on 32-bit ARM only; called only where the
// processor has NEON.
#include "scankernel.h"

int scanNeon(const scankernel::Pass &pass, const char *data, int size, int *out)
{
    return scankernel::scan<scankernel::NeonLanes>(pass, data, size, out);
}
