#include "transfer/busy.h"

#include <utility>

namespace transfer {

namespace {
bool running = false;
bool stop = false;
std::function<void(bool)>& listener() {
    static std::function<void(bool)> l;
    return l;
}
} // namespace

bool operationRunning() { return running; }

void setOperationListener(std::function<void(bool running)> l) { listener() = std::move(l); }

void requestStop() {
    if (running) stop = true;
}

bool stopRequested() { return stop; }

OperationScope::OperationScope() : acquired_(!running) {
    if (!acquired_) return;
    running = true;
    stop = false;
    if (listener()) listener()(true);
}

OperationScope::~OperationScope() {
    if (!acquired_) return;
    running = false;
    stop = false;
    if (listener()) {
        try {
            listener()(false);
        } catch (...) {
            // A listener that fails must not take the program down with it.
        }
    }
}

} // namespace transfer
