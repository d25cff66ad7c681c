#pragma once

// The four archiver libraries share one implementation; this says which one is running.

namespace pictor::arc {

enum class TArcKind { Lha, Zip, Cab, Tar };

// Export prefix of the library ("Unlha", "UnZip", "Cab", "Tar").
const char* ArcPrefix(TArcKind kind);

} // namespace pictor::arc
