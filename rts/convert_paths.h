// Vector loops of the sample conversion: the widest one the processor has is
// used; a test limits the width to check each loop against the general one.
#pragma once

// 0: general loops only; 128: up to SSE2; 256: up to AVX2; 512: up to AVX-512
// (the default).
void QZ_rts_limit_vector_width(int bits);
