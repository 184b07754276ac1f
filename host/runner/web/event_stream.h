// The event streams of the live page: each client's queue of Server-Sent Events, bounded in
// number and in bytes, with the wake-up of a stream that waits for its next event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace veldrane::host {

using SharedText = std::shared_ptr<const std::string>;

// One client's stream. The server's thread reads it; the runner's and the driver's threads add
// to it through EventStreams. Everything below is guarded by `mutex_`.
class StreamClient {
 public:
  // `suspend` is called, under the client's lock, when Read finds nothing to send: the server
  // stops asking until `resume` is called (also under the lock).
  StreamClient(std::function<void()> suspend, std::function<void()> resume)
      : suspend_(std::move(suspend)), resume_(std::move(resume)) {}

  // Copies up to `max` bytes of the queue to `out`. 0: nothing now (the stream was suspended);
  // -1: the stream ends (closed, or too far behind: the browser reconnects and starts afresh).
  long Read(char* out, size_t max);
  // Queues `text`; false when the client is gone or closed. Closes the client when it holds more
  // than `limit` bytes unread.
  bool Add(const SharedText& text, size_t limit);
  // Ends the stream at its next read.
  void Close();
  // The server dropped the connection: no resume may follow. Called by libmicrohttpd as it frees
  // the response, without a lock of its own held, so that waiting for a resume under way (which
  // takes libmicrohttpd's lock) cannot deadlock.
  void Gone();

 private:
  std::mutex mutex_;
  std::deque<SharedText> queue_;
  size_t offset_ = 0;  // into queue_.front()
  size_t queued_ = 0;  // bytes not yet read
  bool suspended_ = false;
  bool closed_ = false;
  bool gone_ = false;
  std::function<void()> suspend_;
  std::function<void()> resume_;
};

// Every open stream. Thread-safe.
class EventStreams {
 public:
  EventStreams(size_t max_clients, size_t max_queued)
      : max_clients_(max_clients), max_queued_(max_queued) {}

  // A new client whose stream starts with the texts `first` gives; null when max_clients streams
  // are open. `first` is called under the same lock as Publish, so nothing falls between it and
  // the events that follow.
  std::shared_ptr<StreamClient> Open(std::function<void()> suspend, std::function<void()> resume,
                                     const std::function<std::vector<SharedText>()>& first);
  // Sends `text` (whole events) to every client; forgets the clients that are gone.
  void Broadcast(const SharedText& text);
  // Runs `change` and the broadcast of what it returns (null: nothing) as one step, so that a
  // client opened meanwhile gets either the state before it with the event, or after it.
  void Publish(const std::function<SharedText()>& change);
  // Ends every stream (at stop).
  void CloseAll();
  size_t size() const;

 private:
  const size_t max_clients_;
  const size_t max_queued_;
  mutable std::mutex mutex_;  // guards clients_; taken before a client's own lock
  std::vector<std::weak_ptr<StreamClient>> clients_;
};

// "event: NAME\ndata: JSON\n\n" (JSON on one line).
std::string SseEvent(const std::string& name, const std::string& json);

}  // namespace veldrane::host
