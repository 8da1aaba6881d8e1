// Compiled with AVX2 enabled, on x86-64 only; called only where the
// processor has AVX2.
#include "scankernel.h"

int scanAvx2(const scankernel::Pass &pass, const char *data, int size, int *out)
{
    return scankernel::scan<scankernel::Avx2Lanes>(pass, data, size, out);
}
