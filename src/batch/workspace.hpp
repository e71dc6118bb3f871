// A batch context for many decks that share include files: one cache of
// parsed files keyed by resolved path (bytes shared, block index copied per
// deck instance) and one shared per-file index, so that a batch costs in
// proportion to its distinct files, not its decks.
//
// A file is read once per workspace: a file changed on disk after it was
// cached is not read again by later parses through the same workspace.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "deck/deck.hpp"
#include "model/shared_index.hpp"

namespace tarvex::batch {

// The cached bytes and block index of one file; never changed after insertion.
struct CachedFile {
    SourcePtr source;
    std::vector<Block> blocks;
};

class Workspace {
public:
    Workspace() : shared_(std::make_shared<model::SharedIndex>()) {}

    // Parses one deck through the cache (errors as tarvex::parse_deck).
    Result<std::unique_ptr<Deck>> parse_deck(const std::string& path);

    // physical_def_ids of every given file, in parallel on the pool.
    void prime(const std::vector<const ParsedFile*>& files);

    const std::shared_ptr<model::SharedIndex>& shared_index() const noexcept { return shared_; }
    std::size_t files_parsed() const noexcept { return files_parsed_.load(std::memory_order_relaxed); }
    std::size_t files_reused() const noexcept { return files_reused_.load(std::memory_order_relaxed); }

private:
    std::optional<LoadedFile<ParsedFile>> load(const WalkEntry& entry);

    std::shared_ptr<model::SharedIndex> shared_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const CachedFile>> files_;
    std::atomic<std::size_t> files_parsed_{0};
    std::atomic<std::size_t> files_reused_{0};
};

// The distinct files of the given decks: one per path, the first met in deck
// order then file order.
std::vector<const ParsedFile*> distinct_files(const std::vector<const Deck*>& decks);

}  // namespace tarvex::batch
