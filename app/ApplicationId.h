// The application's id on the desktop: the name of its desktop entry
// (data/<id>.desktop), of its icon in the icon theme and of its AppStream
// metainfo, and the Wayland app id its window carries.
#pragma once

namespace orvento {

inline constexpr const char* kApplicationId = "org.orvento.Orvento";

}  // namespace orvento
