#include "batch/workspace.hpp"

#include <unordered_set>

#include "include/block_includes.hpp"
#include "util/pool.hpp"

namespace tarvex::batch {

std::optional<LoadedFile<ParsedFile>> Workspace::load(const WalkEntry& entry) {
    std::shared_ptr<const CachedFile> cached;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = files_.find(entry.path);
        if (it != files_.end()) {
            cached = it->second;
            files_reused_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    if (!cached) {
        auto pf = parse_file_blocks(entry.path);
        if (!pf.ok()) return std::nullopt;
        auto fresh = std::make_shared<CachedFile>(CachedFile{pf.value().source, std::move(pf.value().blocks)});
        std::lock_guard<std::mutex> lock(mutex_);
        auto [it, inserted] = files_.try_emplace(entry.path, fresh);
        if (inserted)
            files_parsed_.fetch_add(1, std::memory_order_relaxed);
        else
            files_reused_.fetch_add(1, std::memory_order_relaxed);
        cached = it->second;
    }
    LoadedFile<ParsedFile> out;
    out.payload.path = entry.path;
    out.payload.source = cached->source;
    out.payload.blocks = cached->blocks;
    out.directives = extract_includes(out.payload, entry.search);
    return out;
}

Result<std::unique_ptr<Deck>> Workspace::parse_deck(const std::string& path) {
    return parse_deck_with(path, [this](const WalkEntry& m) { return load(m); }, shared_);
}

void Workspace::prime(const std::vector<const ParsedFile*>& files) {
    pool::parallel_for(0, files.size(), 1, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i) shared_->physical_def_ids(*files[i]);
    });
}

std::vector<const ParsedFile*> distinct_files(const std::vector<const Deck*>& decks) {
    std::vector<const ParsedFile*> out;
    std::unordered_set<std::string> seen;
    for (const Deck* d : decks)
        for (const ParsedFile& f : d->files)
            if (seen.insert(f.path).second) out.push_back(&f);
    return out;
}

}  // namespace tarvex::batch
