#pragma once
#include <chrono>
#include <cmath>

#include "app/ui.h"

namespace transfer::detail {

// Lets the window process its events every 50 ms at most, however fast the
// rows go by.
class EventPacer {
public:
    explicit EventPacer(ui::Dialogs& dialogs) : dialogs_(dialogs) {}
    void tick() {
        const auto now = Clock::now();
        if (now < next_) return;
        dialogs_.processEvents();
        next_ = Clock::now() + kInterval;
    }
    void now() {
        dialogs_.processEvents();
        next_ = Clock::now() + kInterval;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{50};
    ui::Dialogs& dialogs_;
    Clock::time_point next_{};
};

// The progress bar follows the rows: (row + 1) / count x 100, set when the
// shown value changes.
class RowProgress {
public:
    RowProgress(ui::ProgressBar& bar, long long count) : bar_(bar), count_(count) {}
    void row(long long index) {
        if (count_ <= 0) return;
        const int value = int(std::nearbyint(double(index + 1) / double(count_) * 100.0));
        if (value == last_) return;
        last_ = value;
        bar_.setValue(value);
    }

private:
    ui::ProgressBar& bar_;
    long long count_;
    int last_ = -1;
};

} // namespace transfer::detail
