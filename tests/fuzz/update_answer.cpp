// The update service's answer: whatever a server (or anyone between) sends.
#include "fuzz_support.h"
#include "system/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint16_t version[4] = {};
    reelpage::ParseVersionAnswer(fuzz::Bytes(data, size), version);
    return 0;
}
