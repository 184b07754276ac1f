// Topic names: the value topic of each linked tag, and the levels of the status topics.
//
//   PREFIX/TAG                       a tag's value, TAG in UTF-8 (PREFIX: veldrane/values)
//   STATUS/RUNNER                    "online" or "offline", retained (STATUS: PREFIX/../status)
//   STATUS/RUNNER/LINE/STATION       a station's state as retained JSON
#pragma once

#include <map>
#include <string>
#include <vector>

namespace veldrane::host {

// The topic of every linked tag, and the tags each topic sets.
class ValueTopics {
 public:
  explicit ValueTopics(std::string prefix) : prefix_(std::move(prefix)) {}

  // Adds a tag (code page 949 bytes). False, with what is wrong in *why when given, when its
  // name holds what a topic name cannot ('+', '#', a control character): no broker can
  // deliver a value for it.
  bool Add(const std::string& tag, std::string* why = nullptr);
  // The tags that `topic` sets (one topic may stand for several tags whose code page 949
  // names read alike in UTF-8), or null for a topic of no tag.
  const std::vector<std::string>* TagsOf(const std::string& topic) const;
  std::vector<std::string> Topics() const;

 private:
  std::string prefix_;
  std::map<std::string, std::vector<std::string>> tags_;
};

// A name as one topic level: '/', '+' and '#' become '_', and control characters and bytes
// that are not UTF-8 are written \xhh as the runner shows them, so that every name (a file
// name in any encoding, a station name with a control character) has a level a broker takes.
std::string TopicLevel(const std::string& name);
// The parent of the value prefix followed by "status": veldrane/values gives veldrane/status.
std::string StatusPrefix(const std::string& value_prefix);
// A configuration's line name: its file name without folders and without ".cfg".
std::string LineName(const std::string& config_path);

}  // namespace veldrane::host
