// A family A stream in the "HUNT"/"HTAD" framing (layout in family_a_fuzz.h).
#include "family_a_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kestrel_fuzz::readFamilyAStream(data, size, false);
    return 0;
}
