// Turning the text a user typed (or a catalogue gave) into the text of a URL.
#pragma once

#include <string>
#include <string_view>

namespace orvento {

// Percent-escapes `text`, taken as UTF-8, for use as a URL: letters, digits,
// RFC 2396's marks (- _ . ! ~ * ' ( )) and its reserved delimiters
// (; / ? : @ & = + $ ,) are kept, so a typed URL keeps its structure; a "%"
// followed by two hexadecimal digits is kept too, so text that is already
// escaped is not escaped twice. Every other byte ("#", a lone "%", spaces,
// controls, the bytes of non-ASCII characters) becomes "%" and two upper-case
// hexadecimal digits.
std::string percentEscapeUrlText(std::string_view text);

}  // namespace orvento
