// Reading the key driver's XML answers.
#pragma once

#include <string>
#include <string_view>

namespace sealgate {

// Parses `document` and gives the text of the root element's first child named `child`. False
// when the document is not well-formed or has no such child; an empty element gives true with
// an empty text.
bool root_child_text(const std::u16string& document, std::u16string_view child,
                     std::u16string& text);

}  // namespace sealgate
