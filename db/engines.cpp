#include "db/engines.h"

#include "db/access_session.h"
#include "db/pg_session.h"

namespace db {

void registerBuiltinEngines() {
    registerPostgreSQLEngine();
    registerAccessEngine(); // "Provider=" and "PROVIDER=" alike: names compare ignoring case
}

} // namespace db
