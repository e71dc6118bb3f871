#include "results/diskfile.hpp"

namespace tarvex::results {

std::optional<std::uint64_t> read_int(const unsigned char* p, std::uint64_t n, unsigned width, bool little) noexcept {
    if (width != 1 && width != 2 && width != 4 && width != 8) return std::nullopt;
    if (n < width) return std::nullopt;
    std::uint64_t v = 0;
    if (little) {
        for (unsigned i = width; i-- > 0;) v = (v << 8) | p[i];
    } else {
        for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
    }
    return v;
}

LsdaResult<std::uint64_t> Diskfile::read_value(unsigned width) {
    if (width != 1 && width != 2 && width != 4 && width != 8) return LsdaError::invalid_data_type_size();
    if (cursor > len || len - cursor < width) return LsdaError::conversion("read past end of LSDA file");
    auto v = read_int(data + cursor, len - cursor, width, little);
    cursor += width;
    return *v;
}

LsdaResult<std::uint8_t> Diskfile::read_byte() {
    if (cursor >= len) return LsdaError::conversion("read past end of LSDA file");
    return data[cursor++];
}

}  // namespace tarvex::results
