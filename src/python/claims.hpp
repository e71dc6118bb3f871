// Per-object claims: every mutable Python object carries a claim counter.
#pragma once

#include <atomic>
#include <cstdint>

#include "python/errors.hpp"

namespace tarvex::py {

namespace nb = nanobind;

// Every mutable Python object carries a claim counter: any number of shared
// claims at once, or one exclusive claim.  Claims are taken with the
// interpreter lock held and kept while a call has released it.

class Claimable {
public:
    mutable std::atomic<std::int64_t> claim_state_{0};  // >0 shared, -1 exclusive
};

class SharedClaim {
public:
    explicit SharedClaim(const Claimable& o);
    ~SharedClaim() { obj_.claim_state_.fetch_sub(1, std::memory_order_acq_rel); }
    SharedClaim(const SharedClaim&) = delete;
    SharedClaim& operator=(const SharedClaim&) = delete;

private:
    const Claimable& obj_;
};

class ExclusiveClaim {
public:
    explicit ExclusiveClaim(const Claimable& o);
    ~ExclusiveClaim() { obj_.claim_state_.store(0, std::memory_order_release); }
    ExclusiveClaim(const ExclusiveClaim&) = delete;
    ExclusiveClaim& operator=(const ExclusiveClaim&) = delete;

private:
    const Claimable& obj_;
};

}  // namespace tarvex::py
