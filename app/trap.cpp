#include "app/trap.h"

#include <stdexcept>

#include "app/app_title.h"
#include "db/error.h"

namespace app {

std::string locationText(const std::string& form, const std::string& handler) {
    return "in Tarnwick2021/08/31." + form + "." + handler + " ";
}

std::string errorReportText(const std::string& description, const std::string& location, int line) {
    return description + "\r\n" + location + "at line " + std::to_string(line) + "\r\r" +
           "Please email screenshot of this message to " + kSupportAddress;
}

Failure describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const db::Error& e) {
        return {e.number(), e.what()};
    } catch (const std::exception& e) {
        return {-1, e.what()};
    } catch (...) {
        return {-1, "Unknown failure"};
    }
}

void Trap::report(const std::exception_ptr& error) { report(describe(error).description); }

void Trap::report(const std::string& description) {
    ++reports_;
    std::string text = errorReportText(description, location_, line_);
    if (sql_) {
        if (refresh_) refresh_();
        text += "\r\rsql: " + *sql_;
    }
    dialogs_.errorReport(text);
}

} // namespace app
