// Text of at most N single-byte characters. Assigning longer text keeps the
// first N characters; the rest is dropped.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

template <std::size_t N>
class FixedString {
  public:
    FixedString() = default;
    FixedString(std::string_view text) { assign(text); }  // NOLINT: implicit on purpose

    FixedString& operator=(std::string_view text) {
        assign(text);
        return *this;
    }

    void assign(std::string_view text) {
        length_ = std::min(text.size(), N);
        std::copy_n(text.data(), length_, chars_.data());
    }

    void clear() { length_ = 0; }

    static constexpr std::size_t capacity() { return N; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    char operator[](std::size_t i) const { return chars_[i]; }

    std::string_view view() const { return {chars_.data(), length_}; }
    std::string str() const { return std::string(view()); }
    operator std::string_view() const { return view(); }  // NOLINT: implicit on purpose

    friend bool operator==(const FixedString& a, std::string_view b) { return a.view() == b; }

  private:
    std::array<char, N> chars_{};
    std::size_t length_ = 0;
};
