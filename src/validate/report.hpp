// What a validation run produces: findings (one per violation, each with a
// location to click on) and the report that holds them in run order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::validate {

enum class Severity : std::uint8_t { Error = 0, Warning = 1, Info = 2 };

// "Error", "Warning", "Info".
const char* severity_name(Severity s) noexcept;

struct Finding {
    std::string rule;     // the name of the rule that reported it
    std::string keyword;  // the keyword it is about, as the check words it
    std::string file;     // path of the file holding the offending block (raw bytes)
    std::string message;
    std::uint64_t line = 0;  // 1-based keyword line of the block; 0 where a check has none
    Severity severity = Severity::Error;
};

// "{file}:{line}".
std::string finding_location(const Finding& f);
// Finding({severity}, {rule}, {file}:{line}, "{message, escaped}")
std::string finding_repr(const Finding& f);

struct Report {
    std::vector<Finding> findings;  // in run order: rule by rule, each in its check's order

    std::size_t count(Severity s) const noexcept;
    // No finding has Error severity.
    bool is_clean() const noexcept;
};

// "Report({n} findings)".
std::string report_repr(std::size_t n);

}  // namespace tarvex::validate
