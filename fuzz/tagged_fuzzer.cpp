// A family A stream in the "3297" framing (layout in family_a_fuzz.h).
#include "family_a_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kestrel_fuzz::readFamilyAStream(data, size, true);
    return 0;
}
