#include "host/runner/mqtt/mqtt_topics.h"

#include <strings.h>

#include <algorithm>

#include "platform/text/cp949.h"
#include "platform/text/display_text.h"

namespace veldrane::host {

bool ValueTopics::Add(const std::string& tag, std::string* why) {
  std::string topic = platform::Cp949ToUtf8(tag);
  const char* wrong = nullptr;
  if (tag.find_first_of("+#") != std::string::npos) {
    wrong = "holds '+' or '#'";
  } else if (platform::EscapeControls(topic) != topic) {
    wrong = "holds a control character";
  }
  if (wrong != nullptr) {
    if (why) *why = wrong;
    return false;
  }
  if (!prefix_.empty()) topic = prefix_ + "/" + topic;
  std::vector<std::string>& tags = tags_[topic];
  if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
  return true;
}

const std::vector<std::string>* ValueTopics::TagsOf(const std::string& topic) const {
  auto it = tags_.find(topic);
  return it == tags_.end() ? nullptr : &it->second;
}

std::vector<std::string> ValueTopics::Topics() const {
  std::vector<std::string> topics;
  for (const auto& [topic, tags] : tags_) topics.push_back(topic);
  return topics;
}

std::string TopicLevel(const std::string& name) {
  std::string level = platform::EscapeControls(name);
  std::replace_if(
      level.begin(), level.end(), [](char c) { return c == '/' || c == '+' || c == '#'; }, '_');
  return level;
}

std::string StatusPrefix(const std::string& value_prefix) {
  size_t slash = value_prefix.rfind('/');
  return slash == std::string::npos ? "status" : value_prefix.substr(0, slash) + "/status";
}

std::string LineName(const std::string& config_path) {
  size_t slash = config_path.rfind('/');
  std::string name = slash == std::string::npos ? config_path : config_path.substr(slash + 1);
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".cfg") == 0) {
    name.resize(name.size() - 4);
  }
  return name;
}

}  // namespace veldrane::host
