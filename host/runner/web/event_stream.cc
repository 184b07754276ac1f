#include "host/runner/web/event_stream.h"

#include <algorithm>
#include <cstring>

namespace veldrane::host {

long StreamClient::Read(char* out, size_t max) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return -1;
  size_t copied = 0;
  while (copied < max && !queue_.empty()) {
    const std::string& front = *queue_.front();
    size_t n = std::min(max - copied, front.size() - offset_);
    std::memcpy(out + copied, front.data() + offset_, n);
    copied += n;
    offset_ += n;
    if (offset_ == front.size()) {
      queue_.pop_front();
      offset_ = 0;
    }
  }
  queued_ -= copied;
  if (copied == 0) {
    suspended_ = true;
    suspend_();
  }
  return static_cast<long>(copied);
}

bool StreamClient::Add(const SharedText& text, size_t limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (gone_ || closed_) return !gone_;
  queued_ += text->size();
  queue_.push_back(text);
  // A client that does not read would hold every event in memory: it starts afresh instead.
  if (queued_ > limit) {
    closed_ = true;
    queue_.clear();
  }
  if (suspended_) {
    suspended_ = false;
    resume_();
  }
  return true;
}

void StreamClient::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  if (suspended_ && !gone_) {
    suspended_ = false;
    resume_();
  }
}

void StreamClient::Gone() {
  std::lock_guard<std::mutex> lock(mutex_);
  gone_ = true;
}

std::shared_ptr<StreamClient> EventStreams::Open(
    std::function<void()> suspend, std::function<void()> resume,
    const std::function<std::vector<SharedText>()>& first) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                [](const std::weak_ptr<StreamClient>& c) { return c.expired(); }),
                 clients_.end());
  if (clients_.size() >= max_clients_) return nullptr;
  auto client = std::make_shared<StreamClient>(std::move(suspend), std::move(resume));
  for (const SharedText& text : first()) client->Add(text, max_queued_);
  clients_.push_back(client);
  return client;
}

void EventStreams::Broadcast(const SharedText& text) {
  Publish([&] { return text; });
}

void EventStreams::Publish(const std::function<SharedText()>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  SharedText text = change();
  if (!text) return;
  auto end = std::remove_if(clients_.begin(), clients_.end(), [&](std::weak_ptr<StreamClient>& c) {
    auto client = c.lock();
    return !client || !client->Add(text, max_queued_);
  });
  clients_.erase(end, clients_.end());
}

void EventStreams::CloseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : clients_) {
    if (auto client = c.lock()) client->Close();
  }
}

size_t EventStreams::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return !c.expired(); }));
}

std::string SseEvent(const std::string& name, const std::string& json) {
  return "event: " + name + "\ndata: " + json + "\n\n";
}

}  // namespace veldrane::host
