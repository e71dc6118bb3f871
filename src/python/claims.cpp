#include "python/claims.hpp"

namespace tarvex::py {

SharedClaim::SharedClaim(const Claimable& o) : obj_(o) {
    std::int64_t cur = o.claim_state_.load(std::memory_order_acquire);
    for (;;) {
        if (cur < 0) raise(Error::runtime("Already mutably borrowed"));
        if (o.claim_state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acq_rel)) return;
    }
}

ExclusiveClaim::ExclusiveClaim(const Claimable& o) : obj_(o) {
    std::int64_t expected = 0;
    if (!o.claim_state_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel))
        raise(Error::runtime("Already borrowed"));
}

}  // namespace tarvex::py
