// Text comparisons the cache needs on keys and meta values: Unicode lower
// case (path keys are stored lower-cased) and a folding that ignores case and
// diacritics (listing paths are matched that way). Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace greyfox {

// `text` in Unicode lower case (root locale); invalid UTF-8 comes back as is.
std::string cacheLowercase(std::string_view text);

// `text` decomposed, stripped of combining marks and case-folded, so that two
// strings equal ignoring case and diacritics fold to the same bytes.
std::string cacheFoldCaseAndDiacritics(std::string_view text);

}  // namespace greyfox
