// The readings waiting for the broker: at most `max` of them, oldest first.
// A reading that comes to a full queue pushes out the oldest one, and the
// queue counts what it dropped until the count is taken.
#pragma once

#include <cstddef>
#include <deque>

#include "hydrix/monitor/monitor_payloads.h"

namespace hx {

class PublishQueue {
 public:
  explicit PublishQueue(std::size_t max) : max_(max) {}

  // Adds a message at the end; when the queue is full the oldest goes (with
  // max 0 the message itself goes). True when nothing was dropped.
  bool Push(MqttMessage message);
  bool Empty() const { return queue_.empty(); }
  std::size_t Size() const { return queue_.size(); }
  std::size_t Max() const { return max_; }
  const MqttMessage& Front() const { return queue_.front(); }
  void Pop() { queue_.pop_front(); }
  // Messages dropped since the last call; the count starts again at 0.
  std::size_t TakeDropped();

 private:
  std::size_t max_;
  std::deque<MqttMessage> queue_;
  std::size_t dropped_ = 0;
};

}  // namespace hx
