#include "validate/report.hpp"

#include <algorithm>

#include "util/text.hpp"

namespace tarvex::validate {

const char* severity_name(Severity s) noexcept {
    switch (s) {
        case Severity::Error: return "Error";
        case Severity::Warning: return "Warning";
        case Severity::Info: return "Info";
    }
    return "Error";
}

std::string finding_location(const Finding& f) { return f.file + ":" + std::to_string(f.line); }

std::string finding_repr(const Finding& f) {
    return std::string("Finding(") + severity_name(f.severity) + ", " + f.rule + ", " + finding_location(f) + ", " +
           text::quoted(f.message) + ")";
}

std::size_t Report::count(Severity s) const noexcept {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(), [s](const Finding& f) { return f.severity == s; }));
}

bool Report::is_clean() const noexcept {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.severity == Severity::Error; });
}

std::string report_repr(std::size_t n) { return "Report(" + std::to_string(n) + " findings)"; }

}  // namespace tarvex::validate
