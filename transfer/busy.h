#pragma once
#include <functional>

// One table operation at a time. The transfers let the window process events
// while they run; a click that arrives meanwhile must not start a second
// operation on the same lists and databases. Every handler of the page's data
// buttons holds an OperationScope; the page can watch the state to disable
// its buttons.
namespace transfer {

bool operationRunning();

// Called with true when an operation starts and false when it ends.
void setOperationListener(std::function<void(bool running)> listener);

// Asks the running transfer to stop after the row in hand (the window is
// closing). The transfer ends its batch, closes both sessions and returns.
void requestStop();
bool stopRequested();

class OperationScope {
public:
    OperationScope();
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;
    // False when another operation was already running: the handler returns at once.
    bool acquired() const { return acquired_; }

private:
    bool acquired_;
};

} // namespace transfer
