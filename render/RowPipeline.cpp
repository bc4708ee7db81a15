#include "RowPipeline.h"

namespace kalidrome::render {

RowPipeline::RowPipeline(std::int32_t totalRows, Consumer consumer)
    : m_total(totalRows), m_consumer(std::move(consumer)), m_thread([this] { run(); }) {}

RowPipeline::~RowPipeline() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void RowPipeline::rowsReady(std::int32_t rows) {
    // Waking the consumer for every few rows costs more in thread switches than the work it
    // does; hand over larger slices (and always the last).
    constexpr std::int32_t kSlice = 256;
    if (rows < m_total && rows - m_announced < kSlice) return;
    m_announced = rows;
    {
        std::lock_guard lock(m_mutex);
        if (rows > m_ready) m_ready = rows;
    }
    m_wake.notify_one();
}

void RowPipeline::finish() {
    if (m_thread.joinable()) m_thread.join();
    if (m_error) std::rethrow_exception(m_error);
}

void RowPipeline::run() {
    std::int32_t done = 0;
    while (done < m_total) {
        std::int32_t ready;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_ready > done; });
            if (m_ready <= done) return;  // stopped
            ready = m_ready;
        }
        try {
            m_consumer(done, ready - done);
        } catch (...) {
            m_error = std::current_exception();
            return;
        }
        done = ready;
    }
}

}  // namespace kalidrome::render
