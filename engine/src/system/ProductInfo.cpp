// Product information: the product GUID and nine texts, read from the
// scrambled product.ifo beside the engine.
#include "system/Exports.h"
#include "system/Folders.h"
#include "system/ProductInfo.h"

#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/guid.h"
#include "platform/wstr.h"

namespace reelpage {

ProductFile ReadProductFile(std::string_view file) {
    // 64 zero bytes past the end: the last word's successor reads as zero and
    // the last text always finds a NUL.
    size_t words = (file.size() + 7) / 8 + 8;
    std::vector<uint64_t> w(words, 0);
    std::memcpy(w.data(), file.data(), file.size());
    for (size_t i = 0; i + 1 < words; ++i) w[i] = (w[i] << 3) | (w[i + 1] >> 61);
    w[words - 1] <<= 3;

    const char* text = reinterpret_cast<const char*>(w.data());
    const char* end = text + words * 8;
    auto next = [&]() {
        const char* s = text;
        while (text < end && *text) ++text;
        if (text < end) ++text;
        return std::string(s, text > s && text[-1] == 0 ? text - 1 : text);
    };
    ProductFile product;
    platform::ParseGuid(next(), &product.product);
    for (std::u16string& t : product.texts) t = platform::FromUtf8(next());
    return product;
}

BOOL LoadProductInfo(ProductInfo* out) {
    std::ifstream in(InstallFolder() + "/product.ifo", std::ios::binary);
    if (!in || !out) return 0;
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const ProductFile product = ReadProductFile(file);
    out->m_Product = product.product;
    // The texts live as long as the process, as the program expects; a deque
    // never moves what it already holds.
    static std::deque<std::u16string> texts;
    for (size_t i = 0; i < product.texts.size(); ++i)
        out->m_Texts[i] = texts.emplace_back(product.texts[i]).c_str();
    return 1;
}

} // namespace reelpage
