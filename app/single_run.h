#pragma once
#include <utility>

namespace app {

// Lets one operation run at a time: a click that arrives while another
// operation lets the window process events is ignored.
class SingleRun {
public:
    template <class F>
    bool run(F&& operation) {
        if (running_) return false;
        running_ = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{running_};
        std::forward<F>(operation)();
        return true;
    }
    bool running() const { return running_; }

private:
    bool running_ = false;
};

} // namespace app
