#include "db/engines.h"

namespace db {

void registerBuiltinEngines() {
    // Engines are added here as they are built.
}

} // namespace db
