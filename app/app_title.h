#pragma once
#include <string>

namespace app {

inline const std::string kProductName = "Quillmere";
inline const std::string kSupportAddress = "support@quillmere.example";
inline const std::string kContactPage = "https://quillmere.example/contact";

// The caption of every message box that names none of its own.
std::string applicationTitle();
// Cuts the product name at its last space, repeatedly while longer than 40
// characters (at least once); a name without a space stays whole.
std::string makeApplicationTitle(const std::string& productName);

} // namespace app
