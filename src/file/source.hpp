// The bytes of one file: an owned buffer (empty files), a read-only shared
// memory mapping (every non-empty file), or a shared handle to another Source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/error.hpp"

namespace tarvex {

class Source;
using SourcePtr = std::shared_ptr<const Source>;

// Why opening a file failed: at open(2) or at the mapping step.
struct OpenFailure {
    enum class Stage { Open, Map } stage;
    int err;
};

class Source {
public:
    struct Owned {
        std::string bytes;
    };
    struct Mapped {
        const char* data = nullptr;
        std::size_t size = 0;
    };
    struct Shared {
        SourcePtr inner;
    };

    Source() = default;  // empty owned source
    explicit Source(std::string owned) : v_(Owned{std::move(owned)}) {}
    explicit Source(SourcePtr inner) : v_(Shared{std::move(inner)}) {}
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Open `path`: an empty owned source when its size is 0 or cannot be
    // queried, otherwise a read-only mapping of the whole file.
    static std::variant<SourcePtr, OpenFailure> open(const std::string& path);

    // The whole content.
    std::string_view bytes() const noexcept;
    std::size_t size() const noexcept { return bytes().size(); }
    bool is_mapped() const noexcept;
    bool is_owned() const noexcept { return std::holds_alternative<Owned>(v_); }

    // True once part of the mapping vanished because the file shrank while it
    // was mapped: the missing pages read as zero bytes from then on.
    bool truncated_while_mapped() const noexcept;

private:
    struct MapTag {};
    Source(MapTag, const char* data, std::size_t size);
    std::variant<Owned, Mapped, Shared> v_;
    int guard_slot_ = -1;
};

// Error for the keyword-file callers: an OS error carrying errno's text.
inline Error open_failure_error(const OpenFailure& f) { return Error::os(f.err); }

}  // namespace tarvex
