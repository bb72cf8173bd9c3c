#pragma once
#include <string>

#include "app/pages.h"
#include "db/parameters.h"

namespace app {

class SettingsStore;

// The settings key of each field ("Server", "Port", ...).
const char* settingsKey(Field field);
// What the field shows when its key is absent: "localhost", "5432" or empty.
std::string settingsDefault(Field field);
// The control name of each field ("Text1" ... "Text7").
const char* fieldControlName(Field field);

// The change handling of every field: its key gets the field's whole text.
void onFieldChanged(SettingsStore& store, Field field, const std::string& text);

// The TableManagerPage's "Keep column types, keys and indexes" under the key
// "FullSchema" ("1" or "0"; off when absent).
bool readFullSchema(const SettingsStore& store);
void writeFullSchema(SettingsStore& store, bool on);

// The ConnectionPage's current texts; database work reads them at the moment of use.
db::ConnectionParameters currentParameters(const ConnectionPage& page);
db::ParameterSource parameterSource(const ConnectionPage& page);

} // namespace app
