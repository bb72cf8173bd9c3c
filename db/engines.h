#pragma once

namespace db {
// Registers the PostgreSQL and Access engines with Connection; called once,
// the first time a connection is opened.
void registerBuiltinEngines();
} // namespace db
