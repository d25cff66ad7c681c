#pragma once

namespace pictor {

// Registers the built-in picture formats (BMP/DIB, JPEG, icon, WMF/EMF) in the shared
// registry and makes the plug-in bitmap the class that picture plug-ins register for their
// extensions. Called once before the plug-in folders are searched.
void RegisterPictureFormats();

} // namespace pictor
