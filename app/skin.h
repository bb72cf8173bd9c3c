#pragma once

namespace app {

class ConnectionPage;

// The skin step of start-up: when the program folder holds x/o.cjs, the page,
// its frames and its labels take the system's button face colour. The skin
// component itself is a Windows control suite we do not have, so nothing else
// happens; without the file the designed white backgrounds stay.
void ApplySkin(ConnectionPage& page);

} // namespace app
