// Arbitrary text in the order field. The parser must accept exactly the
// field's grammar and give the value the text means; the reference here reads
// the grammar with a regular expression and the value with strtoull.
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "Global.h"

namespace {

std::optional<std::uint32_t> Reference(const std::string& text) {
    static const std::regex grammar("^ *([+-]?)(?:([0-9]+)|(?:\\$|0x|0X|x|X)([0-9a-fA-F]+))$");
    std::smatch m;
    if (text.find('\0') != std::string::npos || !std::regex_match(text, m, grammar))
        return std::nullopt;
    const bool negative = m[1] == "-";
    const bool hex = m[3].matched;
    std::string digits = hex ? m[3].str() : m[2].str();
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (digits.size() > (hex ? 8u : 10u))
        return std::nullopt;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (hex) {
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    } else if (value > (negative ? 2147483648ull : 2147483647ull)) {
        return std::nullopt;
    }
    const std::uint32_t pattern = std::uint32_t(value);
    return negative ? std::uint32_t(0u - pattern) : pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (ParseOrderNumber(text) != Reference(text))
        std::abort();
    return 0;
}
