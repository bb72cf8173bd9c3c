#include "db/engines.h"

#include "db/pg_session.h"

namespace db {

void registerBuiltinEngines() {
    // Engines are added here as they are built.
    registerPostgreSQLEngine();
}

} // namespace db
