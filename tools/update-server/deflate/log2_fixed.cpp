#include "log2_fixed.h"

#include "tables.h"

#include <array>
#include <cmath>

namespace tvserver::deflate {

namespace {

constexpr int kMantissaBits = 12;

// log2(1 + i / 4096) * 65536.
const std::array<std::uint32_t, 1u << kMantissaBits>& MantissaTable() {
    static const auto table = [] {
        std::array<std::uint32_t, 1u << kMantissaBits> t{};
        for (std::uint32_t i = 0; i < t.size(); ++i)
            t[i] = static_cast<std::uint32_t>(
                std::lround(std::log2(1.0 + i / 4096.0) * (1 << kLog2Shift)));
        return t;
    }();
    return table;
}

} // namespace

std::uint32_t Log2Fixed(std::uint32_t x) {
    const int hb = HighBit(x);
    const std::uint32_t m =
        hb >= kMantissaBits ? x >> (hb - kMantissaBits) : x << (kMantissaBits - hb);
    return (static_cast<std::uint32_t>(hb) << kLog2Shift) +
           MantissaTable()[m - (1u << kMantissaBits)];
}

} // namespace tvserver::deflate
