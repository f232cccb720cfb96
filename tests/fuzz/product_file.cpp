// The product file (product.ifo): any bytes, unscrambled as the engine reads
// them, and the update service's address made from what they say.
#include "fuzz_support.h"
#include "system/ProductInfo.h"
#include "system/UpdateCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Home();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const reelpage::ProductFile file = reelpage::ReadProductFile(fuzz::Bytes(data, size));
    reelpage::ProductInfo info{};
    info.m_Product = file.product;
    for (size_t i = 0; i < file.texts.size(); ++i) info.m_Texts[i] = file.texts[i].c_str();
    reelpage::UpdateServiceAddress(info);
    return 0;
}
