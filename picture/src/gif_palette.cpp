#include "gif_palette.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace picture {
namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

uint32_t Rgb(Bgra p) {
    return (uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b;
}

bool IsTransparent(Bgra p) {
    return p.a < 128;
}

// One occupied cell of the 5-bit-per-channel colour cube.
struct Cell {
    uint16_t key; // r5 << 10 | g5 << 5 | b5
    uint32_t count;
    uint64_t sum[3]; // r, g, b of the pixels in it
};

int Channel(const Cell& c, int channel) {
    return (c.key >> (10 - 5 * channel)) & 31;
}

struct Box {
    size_t begin, end; // cells
    uint64_t count;
    int widest;
    int range;
};

Box MakeBox(const std::vector<Cell>& cells, size_t begin, size_t end) {
    Box box{begin, end, 0, 0, -1};
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    for (size_t i = begin; i < end; ++i) {
        box.count += cells[i].count;
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], Channel(cells[i], c));
            hi[c] = std::max(hi[c], Channel(cells[i], c));
        }
    }
    for (int c = 0; c < 3; ++c) {
        if (hi[c] - lo[c] > box.range) {
            box.range = hi[c] - lo[c];
            box.widest = c;
        }
    }
    return box;
}

// Median cut over the occupied cells: split the box with the widest spread
// (by pixel count among equals) at the median of its widest channel.
std::vector<Box> MedianCut(std::vector<Cell>& cells, int colours) {
    std::vector<Box> boxes{MakeBox(cells, 0, cells.size())};
    while (static_cast<int>(boxes.size()) < colours) {
        auto pick = std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
            return a.range != b.range ? a.range < b.range : a.count < b.count;
        });
        if (pick->range <= 0) break;
        Box box = *pick;
        int c = box.widest;
        std::sort(cells.begin() + box.begin, cells.begin() + box.end,
                  [c](const Cell& a, const Cell& b) { return Channel(a, c) < Channel(b, c); });
        uint64_t half = box.count / 2, seen = 0;
        size_t split = box.begin;
        while (split < box.end - 1 && seen + cells[split].count <= half)
            seen += cells[split++].count;
        if (split == box.begin) split = box.begin + 1;
        *pick = MakeBox(cells, box.begin, split);
        boxes.push_back(MakeBox(cells, split, box.end));
    }
    return boxes;
}

} // namespace

void QuantizeForGif(ConstBitmapView source, uint8_t* indices, ptrdiff_t indexStride,
                    uint32_t palette[256]) {
    std::fill(palette, palette + 256, kOpaque);
    bool anyTransparent = false;
    for (int y = 0; y < source.height && !anyTransparent; ++y)
        for (int x = 0; x < source.width && !anyTransparent; ++x)
            anyTransparent = IsTransparent(source.Pixel(x, y));
    const int colours = anyTransparent ? 255 : 256;
    const uint8_t transparentIndex = 255;
    if (anyTransparent) palette[transparentIndex] = 0;

    // Few colours: an exact palette.
    std::unordered_map<uint32_t, uint8_t> exact;
    bool fits = true;
    for (int y = 0; y < source.height && fits; ++y) {
        for (int x = 0; x < source.width && fits; ++x) {
            Bgra p = source.Pixel(x, y);
            if (IsTransparent(p)) continue;
            uint32_t rgb = Rgb(p);
            if (exact.count(rgb)) continue;
            if (static_cast<int>(exact.size()) == colours) {
                fits = false;
                break;
            }
            uint8_t index = static_cast<uint8_t>(exact.size());
            exact.emplace(rgb, index);
            palette[index] = kOpaque | rgb;
        }
    }
    if (fits) {
        for (int y = 0; y < source.height; ++y) {
            uint8_t* row = indices + y * indexStride;
            for (int x = 0; x < source.width; ++x) {
                Bgra p = source.Pixel(x, y);
                row[x] = IsTransparent(p) ? transparentIndex : exact[Rgb(p)];
            }
        }
        return;
    }

    std::vector<int> cellOfKey(1 << 15, -1);
    std::vector<Cell> cells;
    auto keyOf = [](Bgra p) {
        return static_cast<uint16_t>(((p.r >> 3) << 10) | ((p.g >> 3) << 5) | (p.b >> 3));
    };
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            Bgra p = source.Pixel(x, y);
            if (IsTransparent(p)) continue;
            uint16_t key = keyOf(p);
            if (cellOfKey[key] < 0) {
                cellOfKey[key] = static_cast<int>(cells.size());
                cells.push_back({key, 0, {0, 0, 0}});
            }
            Cell& cell = cells[cellOfKey[key]];
            ++cell.count;
            cell.sum[0] += p.r;
            cell.sum[1] += p.g;
            cell.sum[2] += p.b;
        }
    }
    std::vector<Box> boxes = MedianCut(cells, colours);
    std::vector<uint8_t> indexOfKey(1 << 15, 0);
    for (size_t i = 0; i < boxes.size(); ++i) {
        uint64_t sum[3] = {0, 0, 0};
        for (size_t k = boxes[i].begin; k < boxes[i].end; ++k) {
            for (int c = 0; c < 3; ++c)
                sum[c] += cells[k].sum[c];
            indexOfKey[cells[k].key] = static_cast<uint8_t>(i);
        }
        uint64_t n = std::max<uint64_t>(boxes[i].count, 1);
        uint32_t r = static_cast<uint32_t>((sum[0] + n / 2) / n);
        uint32_t g = static_cast<uint32_t>((sum[1] + n / 2) / n);
        uint32_t b = static_cast<uint32_t>((sum[2] + n / 2) / n);
        palette[i] = kOpaque | (r << 16) | (g << 8) | b;
    }
    for (int y = 0; y < source.height; ++y) {
        uint8_t* row = indices + y * indexStride;
        for (int x = 0; x < source.width; ++x) {
            Bgra p = source.Pixel(x, y);
            row[x] = IsTransparent(p) ? transparentIndex : indexOfKey[keyOf(p)];
        }
    }
}

} // namespace picture
