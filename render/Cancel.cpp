#include "Cancel.h"

namespace kalidrome::render {

namespace {
thread_local const std::atomic<bool>* t_flag = nullptr;
}

CancelScope::CancelScope(const std::atomic<bool>* flag) : m_previous(t_flag) { t_flag = flag; }

CancelScope::~CancelScope() { t_flag = m_previous; }

bool Cancelled() { return t_flag && t_flag->load(std::memory_order_relaxed); }

}  // namespace kalidrome::render
