#include "hydrix/monitor/publish_queue.h"

namespace hx {

bool PublishQueue::Push(MqttMessage message) {
  if (max_ == 0) {
    ++dropped_;
    return false;
  }
  const bool full = queue_.size() >= max_;
  if (full) {
    queue_.pop_front();
    ++dropped_;
  }
  queue_.push_back(std::move(message));
  return !full;
}

std::size_t PublishQueue::TakeDropped() {
  const std::size_t n = dropped_;
  dropped_ = 0;
  return n;
}

}  // namespace hx
