// What a device server or its client sends on a Telnet connection: the reader never crashes,
// cutting the bytes anywhere between two reads finds the same data, options and
// subnegotiations, the line's own bytes come back as they were sent, and the negotiator answers
// each option with one well-formed command at most.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/net/telnet_codec.h"

namespace {

using veldrane::platform::telnet::Bytes;
using veldrane::platform::telnet::Event;
using veldrane::platform::telnet::Negotiator;
using veldrane::platform::telnet::Reader;

// The events with neighbouring data joined: a cut may split data in two.
std::vector<Event> Joined(const std::vector<Event>& events) {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (e.kind == Event::Kind::kData && !out.empty() && out.back().kind == Event::Kind::kData) {
      out.back().bytes.insert(out.back().bytes.end(), e.bytes.begin(), e.bytes.end());
    } else if (e.kind != Event::Kind::kData || !e.bytes.empty()) {
      out.push_back(e);
    }
  }
  return out;
}

bool Same(const std::vector<Event>& a, const std::vector<Event>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].verb != b[i].verb || a[i].option != b[i].option ||
        a[i].bytes != b[i].bytes) {
      return false;
    }
  }
  return true;
}

void CheckAnswers(const std::vector<Event>& events) {
  using namespace veldrane::platform::telnet;
  Negotiator negotiator({kBinary, kSuppressGoAhead}, {kBinary, kSuppressGoAhead, kComPortOption});
  for (const Event& e : events) {
    if (e.kind != Event::Kind::kOption) continue;
    Bytes out;
    negotiator.Answer(e.verb, e.option, &out);
    if (out.size() != 0 && out.size() != 3) std::abort();
    if (out.size() == 3 &&
        (out[0] != kIac || out[1] < kWill || out[1] > kDont || out[2] != e.option)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Event> whole;
  Reader().Feed(data, size, &whole);
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  std::vector<Event> parts;
  Reader reader;
  reader.Feed(data, cut, &parts);
  reader.Feed(data + cut, size - cut, &parts);
  if (!Same(Joined(whole), Joined(parts))) std::abort();
  CheckAnswers(whole);

  // The same bytes as a line's data: they arrive as they were.
  Bytes sent;
  veldrane::platform::telnet::AppendData(data, size, &sent);
  std::vector<Event> received;
  Reader().Feed(sent.data(), sent.size(), &received);
  received = Joined(received);
  const Bytes original(data, data + size);
  if (size == 0 ? !received.empty() : received.size() != 1 || received[0].bytes != original) {
    std::abort();
  }
  return 0;
}
