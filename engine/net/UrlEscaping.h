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
// hexadecimal digits. The host of a "scheme://" text is the exception: the
// brackets of an IP literal ("http://[::1]:8000/") and the non-ASCII
// characters of an internationalised name stay as they are, since escaping
// them would make a different host.
std::string percentEscapeUrlText(std::string_view text);

}  // namespace orvento
