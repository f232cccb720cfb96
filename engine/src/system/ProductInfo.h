#pragma once
// The product file: the product GUID and nine texts, scrambled.
#include <array>
#include <string>
#include <string_view>

#include "reelpage/types.h"

namespace reelpage {

struct ProductFile {
    GUID product{};
    std::array<std::u16string, 9> texts;
};

// Unscrambles the bytes of product.ifo. Missing texts are empty, a GUID that
// does not parse is all zero.
ProductFile ReadProductFile(std::string_view bytes);

} // namespace reelpage
