#pragma once

// The background executor: a fixed pool of threads for blocking work, so a
// burst of requests queues instead of starting a thread each.

#include <cstddef>

#include "app/model/executor.hpp"
#include "core/support/work_pool.hpp"

namespace cadrio::app {

class PoolExecutor final : public Executor {
public:
    explicit PoolExecutor(std::size_t threads) : pool_(threads) {}
    void post(Job job) override { pool_.submit(std::move(job)); }

private:
    WorkPool pool_;
};

}  // namespace cadrio::app
