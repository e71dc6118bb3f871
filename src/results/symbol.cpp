#include "results/symbol.hpp"

#include <algorithm>

#include "util/text.hpp"

namespace tarvex::results {

const SymNode* SymNode::child(std::string_view name) const noexcept {
    auto it = std::lower_bound(names.begin(), names.end(), name,
                               [](const std::string& a, std::string_view b) { return std::string_view(a) < b; });
    if (it == names.end() || *it != name) return nullptr;
    return &children[static_cast<std::size_t>(it - names.begin())];
}

unsigned type_width(std::uint8_t code) noexcept {
    switch (code) {
        case kI16: case kU16: return 2;
        case kI32: case kU32: case kF32: return 4;
        case kI64: case kU64: case kF64: return 8;
        default: return 1;
    }
}

std::vector<double> ReadResult::to_f64_vec() const {
    if (kind == ResultKind::Dir || kind == ResultKind::Link) return {};
    return std::visit(
        [](const auto& v) -> std::vector<double> {
            using T = typename std::decay_t<decltype(v)>::value_type;
            if constexpr (std::is_same_v<T, std::string>) {
                return {};
            } else {
                std::vector<double> out(v.size());
                for (std::size_t i = 0; i < v.size(); ++i) out[i] = static_cast<double>(v[i]);
                return out;
            }
        },
        data);
}

std::vector<std::string> ReadResult::keys() const {
    if (kind != ResultKind::Dir) return {};
    const auto& names = std::get<0>(data);
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const auto& n : names) out.push_back(text::utf8_lossy(n));
    return out;
}

}  // namespace tarvex::results
