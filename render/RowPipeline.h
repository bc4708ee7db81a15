#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kalidrome::render {

// Hands rows of a picture being decoded to a consumer on a second thread, so that writing
// them out (or scaling them) overlaps the decoding of the next ones. The producer announces
// how many rows from the top are final; the consumer is called, in order and never twice for
// a row, with ranges of final rows. The pixel memory must outlive the pipeline: destroying
// the pipeline stops and joins the consumer (after the call it is in, if any).
class RowPipeline {
public:
    using Consumer = std::function<void(std::int32_t first, std::int32_t count)>;

    RowPipeline(std::int32_t totalRows, Consumer consumer);
    ~RowPipeline();
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    // Rows [0, rows) are final.
    void rowsReady(std::int32_t rows);
    // Waits until every row is consumed; rethrows what the consumer threw. Call after the
    // last rowsReady(totalRows).
    void finish();

private:
    void run();

    const std::int32_t m_total;
    Consumer m_consumer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::int32_t m_ready = 0;
    std::int32_t m_announced = 0;  // producer's side only
    bool m_stop = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};

}  // namespace kalidrome::render
