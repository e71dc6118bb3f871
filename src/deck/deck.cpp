#include "deck/deck.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "file/path.hpp"
#include "include/block_includes.hpp"

namespace tarvex {

const char* const kOffsetMemberNames[8] = {"idnoff", "ideoff", "idpoff", "idmoff",
                                           "idsoff", "idfoff", "iddoff", "idroff"};

std::size_t offset_member_index(EntityKind k) noexcept {
    switch (k) {
        case EntityKind::Node: return 0;
        case EntityKind::Element: return 1;
        case EntityKind::Part: return 2;
        case EntityKind::Material:
        case EntityKind::ThermalMaterial:
        case EntityKind::Eos: return 3;
        case EntityKind::NodeSet:
        case EntityKind::PartSet:
        case EntityKind::SegmentSet:
        case EntityKind::ShellSet:
        case EntityKind::SolidSet:
        case EntityKind::BeamSet:
        case EntityKind::DiscreteSet: return 4;
        case EntityKind::Curve: return 5;
        case EntityKind::Box:
        case EntityKind::Coord:
        case EntityKind::Vector:
        case EntityKind::Transform:
        case EntityKind::Define: return 6;
        case EntityKind::Section:
        case EntityKind::Hourglass:
        case EntityKind::Sensor: return 7;
    }
    return 0;
}

std::int64_t shift_ref(std::int64_t v, std::int64_t d) noexcept {
    if (v == 0 || d == 0) return v;
    // Two's-complement wrap instead of signed overflow.
    std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    std::uint64_t m = mag + static_cast<std::uint64_t>(d);
    return static_cast<std::int64_t>(v < 0 ? 0 - m : m);
}

const FileTransforms& Deck::file_transforms() const {
    std::call_once(lazy.transforms_once, [&] {
        lazy.transforms.reserve(offsets.size());
        for (const auto& o : offsets)
            lazy.transforms.push_back(o.is_zero() ? std::nullopt : std::optional<TransformOffsets>(o));
    });
    return lazy.transforms;
}

std::uint64_t Deck::block_line(std::size_t file, std::size_t block) const {
    if (file >= files.size() || block >= files[file].blocks.size()) return 0;
    std::call_once(lazy.lines_once[file], [&] { lazy.lines[file] = keyword_line_numbers(files[file]); });
    return lazy.lines[file][block];
}

std::optional<LoadedFile<ParsedFile>> load_deck_file(const WalkEntry& entry) {
    auto pf = parse_file_blocks(entry.path);
    if (!pf.ok()) return std::nullopt;
    LoadedFile<ParsedFile> out;
    out.directives = extract_includes(pf.value(), entry.search);
    out.payload = std::move(pf).value();
    return out;
}

std::unique_ptr<Deck> assemble_deck(std::vector<DeckNode>&& nodes, std::shared_ptr<model::SharedIndex> shared) {
    auto deck = std::make_unique<Deck>();
    deck->files.reserve(nodes.size());
    deck->offsets.reserve(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        DeckNode& n = nodes[i];
        n.payload.path = n.path;
        deck->files.push_back(std::move(n.payload));
        deck->offsets.push_back(n.offsets);
        for (auto& d : n.directives) deck->includes.emplace_back(i, std::move(d));
    }
    deck->shared = std::move(shared);
    deck->lazy.lines_once = std::make_unique<std::once_flag[]>(deck->files.size());
    deck->lazy.lines.resize(deck->files.size());
    return deck;
}

namespace {

// Why the resolved root cannot be read as a keyword file.
std::string root_failure_reason(const std::string& canonical) {
    struct stat st{};
    if (::stat(canonical.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return os_text(EISDIR);
    auto pf = parse_file_blocks(canonical);
    if (!pf.ok()) return pf.error().message;
    return "the file could not be read";
}

}  // namespace

Result<std::unique_ptr<Deck>> parse_deck_with(const std::string& path, const DeckLoader& loader,
                                              std::shared_ptr<model::SharedIndex> shared) {
    auto walked = walk_includes<ParsedFile>(path, [&](const WalkEntry& m) { return loader(m); });
    if (!walked.ok()) return std::move(walked).error();
    std::vector<DeckNode> nodes = std::move(walked).value();
    if (nodes.empty() || nodes.front().kind.has_value()) {
        // The root itself could not be read: a deck without files would
        // report success for a deck nobody could read.
        auto canon = path::canonical(path);
        std::string where = canon.ok() ? canon.value() : path;
        return Error::runtime("Cannot read root file " + path + ": " + root_failure_reason(where));
    }
    return assemble_deck(std::move(nodes), std::move(shared));
}

Result<std::unique_ptr<Deck>> parse_deck(const std::string& path) {
    return parse_deck_with(path, DeckLoader(load_deck_file), nullptr);
}

}  // namespace tarvex
