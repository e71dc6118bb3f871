#include "validate/check.hpp"

#include <utility>

#include "util/text.hpp"

namespace tarvex::validate {

namespace {
std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}
}  // namespace

bool FileScope::keeps(std::string_view path) const {
    if (kind == Kind::All) return true;
    const std::string lowered = ascii_lower(text::utf8_lossy(path));
    bool any = false;
    for (const auto& p : patterns) {
        if (lowered.find(ascii_lower(p)) != std::string::npos) {
            any = true;
            break;
        }
    }
    return kind == Kind::OnlyIn ? any : !any;
}

std::vector<Finding> Rule::run(const Deck& deck) const {
    std::vector<Finding> findings = check_->run(deck);
    if (scope_.kind != FileScope::Kind::All) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < findings.size(); ++i) {
            if (!scope_.keeps(findings[i].file)) continue;
            if (kept != i) findings[kept] = std::move(findings[i]);
            ++kept;
        }
        findings.resize(kept);
    }
    if (severity_)
        for (auto& f : findings) f.severity = *severity_;
    return findings;
}

Rule Rule::with_severity(Severity s) const {
    Rule r = *this;
    r.severity_ = s;
    return r;
}

Rule Rule::only_in(std::vector<std::string> patterns) const {
    Rule r = *this;
    r.scope_ = {FileScope::Kind::OnlyIn, std::move(patterns)};
    return r;
}

Rule Rule::except_in(std::vector<std::string> patterns) const {
    Rule r = *this;
    r.scope_ = {FileScope::Kind::ExceptIn, std::move(patterns)};
    return r;
}

}  // namespace tarvex::validate
