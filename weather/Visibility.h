// The prevailing visibility: metres ("9999", "0800", "9999NDV") or statute
// miles ("10SM", "1/2SM", "1 1/2SM", "M1/4SM", "P6SM"), and CAVOK. A
// directional minimum ("0550SE") is recognised and left aside.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvento::weather {

inline constexpr double kMetresPerStatuteMile = 1609.344;
// Visibilities in statute miles are given in metres up to this.
inline constexpr int kMaxStatuteMileMetres = 10000;
// "9999": 10 km or more; also what CAVOK means.
inline constexpr int kTenKilometresOrMore = 9999;

struct Visibility {
    int metres = 0;                      // miles converted and rounded, capped at 10000
    std::optional<double> statuteMiles;  // when written in miles, exactly as written
    bool lessThan = false;               // "M": less than the value
    bool moreThan = false;               // "P": more than the value
    std::string written;                 // as the report writes it: "1 1/2SM", "0800", "CAVOK"

    // In statute miles: as written, or the metres converted.
    double miles() const { return statuteMiles ? *statuteMiles : metres / kMetresPerStatuteMile; }
};

struct VisibilityRead {
    int words = 0;                    // how many words it took; 0: no visibility group
    std::optional<Visibility> value;  // none: reported as missing ("////", "////SM")
    bool prevailing = true;           // false for a directional minimum, to be left aside
};

// The visibility group that starts at words[0] (a whole and a fraction of a
// mile take two words).
VisibilityRead readVisibility(std::span<const std::string_view> words);

// What CAVOK means for the visibility.
Visibility cavokVisibility();

}  // namespace orvento::weather
