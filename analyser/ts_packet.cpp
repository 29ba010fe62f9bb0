#include "ts_packet.h"

#include <new>

namespace skerrow {

namespace {
constexpr std::size_t chunk_records = 256;
}

ts_packet* packet_pool::acquire() {
  if (free_ == nullptr) {
    std::unique_ptr<ts_packet[]> chunk(new (std::nothrow) ts_packet[chunk_records]);
    if (!chunk) return nullptr;
    for (std::size_t i = 0; i < chunk_records; ++i) {
      chunk[i].next = free_;
      free_ = &chunk[i];
    }
    chunks_.push_back(std::move(chunk));
  }
  ts_packet* packet = free_;
  free_ = packet->next;
  packet->next = nullptr;
  ++in_use_;
  return packet;
}

void packet_pool::release(ts_packet* packet) {
  packet->next = free_;
  free_ = packet;
  --in_use_;
}

}  // namespace skerrow
