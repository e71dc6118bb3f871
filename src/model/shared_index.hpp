// Per-file derived values shared by every deck of a workspace, keyed by the
// file's resolved path (no offsets): the physical definition ids and the
// connectivity reference ids, each built once per path.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "model/indices.hpp"

namespace tarvex::model {

template <class T>
class FileCache {
public:
    // The value for f's path, built by `build(f)` by the first caller; others
    // wait for it.  The map lock is held only to find or insert the slot.
    template <class Build>
    std::shared_ptr<const T> get(const ParsedFile& f, Build&& build) {
        std::shared_ptr<Slot> slot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& s = slots_[f.path];
            if (!s) s = std::make_shared<Slot>();
            slot = s;
        }
        std::call_once(slot->once, [&] {
            slot->value = std::make_shared<const T>(build(f));
            built_.fetch_add(1, std::memory_order_relaxed);
        });
        return slot->value;
    }
    std::size_t built() const noexcept { return built_.load(std::memory_order_relaxed); }

private:
    struct Slot {
        std::once_flag once;
        std::shared_ptr<const T> value;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<Slot>> slots_;
    std::atomic<std::size_t> built_{0};
};

class SharedIndex {
public:
    std::shared_ptr<const KindIds> physical_def_ids(const ParsedFile& f);
    std::shared_ptr<const PhysicalRefIds> physical_ref_ids(const ParsedFile& f);
    std::size_t def_indices_built() const noexcept { return defs_.built(); }
    std::size_t ref_indices_built() const noexcept { return refs_.built(); }

private:
    FileCache<KindIds> defs_;
    FileCache<PhysicalRefIds> refs_;
};

}  // namespace tarvex::model
