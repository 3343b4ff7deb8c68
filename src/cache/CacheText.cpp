#include "cache/CacheText.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <vector>

namespace greyfox {

namespace {

bool toUtf16(std::string_view text, std::u16string& out) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), &status);
  return U_SUCCESS(status);
}

bool toUtf8(const std::u16string& text, std::string& out) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), &status);
  return U_SUCCESS(status);
}

}  // namespace

std::string cacheLowercase(std::string_view text) {
  std::u16string wide;
  if (!toUtf16(text, wide)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = u_strToLower(nullptr, 0, wide.data(), static_cast<int32_t>(wide.size()), "", &status);
  std::u16string lower(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strToLower(lower.data(), length, wide.data(), static_cast<int32_t>(wide.size()), "", &status);
  std::string out;
  if (U_FAILURE(status) || !toUtf8(lower, out)) return std::string(text);
  return out;
}

std::string cacheFoldCaseAndDiacritics(std::string_view text) {
  std::u16string wide;
  if (!toUtf16(text, wide)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) return std::string(text);
  int32_t capacity = static_cast<int32_t>(wide.size()) * 4 + 16;
  std::u16string decomposed(static_cast<size_t>(capacity), u'\0');
  int32_t length = unorm2_normalize(nfd, wide.data(), static_cast<int32_t>(wide.size()), decomposed.data(), capacity,
                                    &status);
  if (U_FAILURE(status)) return std::string(text);
  decomposed.resize(static_cast<size_t>(length));

  std::u16string folded;
  folded.reserve(decomposed.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U16_NEXT(decomposed.data(), i, length, c);
    if (u_charType(c) == U_NON_SPACING_MARK) continue;
    UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    UChar units[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(units, n, f);
    folded.append(units, units + n);
  }
  std::string out;
  if (!toUtf8(folded, out)) return std::string(text);
  return out;
}

}  // namespace greyfox
