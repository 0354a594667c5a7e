// WTF-8 to UTF-16 for the Windows side of the platform layer. Windows names
// may hold unpaired surrogates; WTF-8 (UTF-8 that carries them too) lets
// every such name come back to the same file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace doppioni {

// Appends text to out as UTF-16. A byte that starts no valid sequence is
// replaced by `replacement`; with replacement 0 it ends the decoding: false.
inline bool appendWtf8AsUtf16(std::string_view text, std::wstring& out, wchar_t replacement) {
  static constexpr std::uint32_t LEAST[] = {0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    std::size_t extra = lead >= 0xF0 && lead <= 0xF4   ? 3
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xC2 && lead <= 0xDF ? 1
                                                       : 0;
    std::uint32_t c = lead & (0x3Fu >> extra);
    std::size_t k = 1;
    for (; extra != 0 && k <= extra && i + k < text.size(); ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) break;
      c = (c << 6) | (next & 0x3Fu);
    }
    if (extra == 0 || k != extra + 1 || c < LEAST[extra] || c > 0x10FFFF) {
      if (replacement == 0) return false;
      out.push_back(replacement);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
    i += k;
  }
  return true;
}

}  // namespace doppioni
