#pragma once

namespace talvane {

// Chooses the bus and tick for the next Init_Module from TALVANE_ADAPTER (see Talvane.h).
void SelectAdapterFromEnvironment();

}  // namespace talvane
