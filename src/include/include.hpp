// Include directives: recognising *INCLUDE keyword lines, reading their file
// names, resolving them against the including file's directory and the
// inherited search paths.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

enum class IncludeKind : std::uint8_t {
    Include = 0,
    IncludePath = 1,
    IncludePathRelative = 2,
    IncludeTransform = 3,
    IncludeAutoZzfree = 4,
    IncludeBinary = 5,
    IncludeCompensated = 6,
    IncludeStampedPart = 7,
};

// The name Python sees, e.g. "IncludePathRelative".
const char* include_kind_name(IncludeKind k) noexcept;

inline bool is_path_kind(IncludeKind k) noexcept {
    return k == IncludeKind::IncludePath || k == IncludeKind::IncludePathRelative;
}

// Id offsets of an *INCLUDE_TRANSFORM, in the order IDNOFF, IDEOFF, IDPOFF,
// IDMOFF, IDSOFF, IDFOFF, IDDOFF, IDROFF.
struct TransformOffsets {
    std::array<std::int64_t, 8> v{};

    // Member-wise sum with two's-complement wrap.
    TransformOffsets operator+(const TransformOffsets& o) const noexcept {
        TransformOffsets r;
        for (std::size_t i = 0; i < 8; ++i)
            r.v[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(v[i]) + static_cast<std::uint64_t>(o.v[i]));
        return r;
    }
    bool operator==(const TransformOffsets& o) const noexcept { return v == o.v; }
    bool is_zero() const noexcept {
        for (auto x : v)
            if (x) return false;
        return true;
    }
};

struct RawInclude {
    std::string name;
    TransformOffsets offsets;
    IncludeKind kind = IncludeKind::Include;
    // The name's bytes as written, kept only when they are not valid UTF-8
    // (so `name` holds replacement characters): a file whose name is in a
    // legacy encoding is still found on disk.
    std::string raw_name;
};

struct IncludeDirective {
    std::string name;
    std::string resolved;
    TransformOffsets offsets;
    IncludeKind kind = IncludeKind::Include;
};

// The include kind of the keyword line `line` (its content, without LF/CR),
// which starts with '*'; nothing when it is not one of the eight forms.
std::optional<IncludeKind> include_kind_of_line(std::string_view line) noexcept;

// The file name that follows a keyword line, read from `pos` (the start of the
// next line): comment lines skipped, '+' continuations joined, decoded with
// U+FFFD for invalid UTF-8 and trimmed.  Nothing when there is no name.
std::optional<std::string> read_include_filename(std::string_view bytes, std::size_t pos);

// The same, with the undecoded bytes of the name as well (empty when they
// are valid UTF-8 and so equal to the text).
struct IncludeName {
    std::string text;
    std::string raw;
};
std::optional<IncludeName> read_include_name(std::string_view bytes, std::size_t pos);

// An include keyword line found by the raw scan: its kind and the start of the
// line after it, where its file name is read.
struct IncludeHit {
    std::size_t name_pos;
    IncludeKind kind;
};

// Include keyword lines starting in [start, end), in file order.
std::vector<IncludeHit> scan_hits(std::string_view bytes, std::size_t start, std::size_t end);
// The whole file (line-aligned pieces on the pool from 8 MiB on).
std::vector<IncludeHit> scan_all_hits(std::string_view bytes);

// For every hit, the number of bytes (line ends included) of the lines its
// file name is read from (comment lines before it excluded), saturated at
// `limit` + 1.  Names that continue into another directive's name share that
// part of the count, so the whole is linear in the file's size.  A name whose
// lines exceed PATH_MAX by far cannot name a file; the include tree uses this
// to leave such directives out without reading their names.
std::vector<std::size_t> name_extents(std::string_view bytes, const std::vector<IncludeHit>& hits,
                                      std::size_t limit);

// The bound used by the include tree: twice PATH_MAX, so that a name that
// could still name a file (PATH_MAX bytes at most, plus blank padding) is
// always read.
inline constexpr std::size_t kResolvableNameBytes = 8192;

// Directives whose keyword line starts in [start, end); names may be read
// past `end`.
std::vector<RawInclude> scan_range(std::string_view bytes, std::size_t start, std::size_t end);

// All directives of a file, in file order; files of 8 MiB or more are scanned
// in line-aligned pieces on the pool.
std::vector<RawInclude> scan_includes(std::string_view bytes);

// Size from which a file's raw scan is split over the pool.
inline constexpr std::size_t kParallelScanBytes = 8u << 20;

// The search list of a file: `inherited`, then its path directives in file
// order (relative ones joined to `base`).
std::vector<std::string> extend_search(const std::vector<RawInclude>& raw, const std::string& base,
                                       const std::vector<std::string>& inherited);
template <class D>
std::vector<std::string> extend_search_resolved(const std::vector<D>& dirs, const std::string& base,
                                                const std::vector<std::string>& inherited);

// Resolve one directive against `base` and a complete search list.
std::string resolve_one(const RawInclude& r, const std::string& base, const std::vector<std::string>& search);

// Resolve every raw directive of a file in directory `base`.
std::vector<IncludeDirective> resolve_directives(const std::vector<RawInclude>& raw, const std::string& base,
                                                 const std::vector<std::string>& inherited);

}  // namespace tarvex
