#include "tarko/header.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "host/sub/tarko_sub_host.h"

CTarkoHeader::CTarkoHeader(int32_t type) : type_(type) {}

CTarkoHeader::~CTarkoHeader() = default;

void CTarkoHeader::SetDesc(const char* description) {
  desc_ = description;
}

int32_t CTarkoHeader::GetType() const {
  return type_;
}

const CString& CTarkoHeader::GetDesc() const {
  return desc_;
}

namespace {

std::atomic<TarkoErrMsgHandler> g_handler{nullptr};
std::atomic<void*> g_context{nullptr};

// The host's own texts; null for the codes of a driver's string table.
const char* HostText(int32_t code) {
  switch (code) {
    case 2002:
      return "The configuration file cannot be loaded";
    case 2005:
      return "The configuration file cannot be saved";
    default:
      return nullptr;
  }
}

// Installed by the window thread only, read by whoever reports.
std::mutex g_box_mutex;
CTarkoError::Box g_box;

// The last text of each code, for the host's own summary after a run; guarded by g_last_mutex.
std::mutex g_last_mutex;
std::map<int32_t, std::string> g_last_texts;

void Remember(int32_t code, const char* text) {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  g_last_texts[code] = text ? text : "";
}

}  // namespace

int32_t CTarkoError::ErrMsg(int32_t code, int32_t mode, const char* text, ...) {
  Remember(code, text);
  if (TarkoErrMsgHandler handler = g_handler.load()) {
    handler(code, mode, text, g_context.load());
    return 0;
  }
  CTarkoError::Box box;
  {
    std::lock_guard<std::mutex> lock(g_box_mutex);
    box = g_box;
  }
  const char* host_text = HostText(code);
  // The host's own messages (a configuration not loaded or not saved) also stay on the console
  // while a window shows them.
  if (!box.show || host_text) {
    std::fprintf(stderr, "[error %d, mode %d] %s%s%s\n", code, mode,
                 host_text ? host_text : "Error", text ? ": " : "", text ? text : "");
  }
  if (box.show) box.show(code, mode, text, host_text, box.context);
  return 0;
}

CTarkoError::Box CTarkoError::SetBox(Box box) {
  std::lock_guard<std::mutex> lock(g_box_mutex);
  Box old = g_box;
  g_box = box;
  return old;
}

int32_t TarkoSubLastErrMsg(int32_t code, char* text, size_t size) {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  auto it = g_last_texts.find(code);
  if (it == g_last_texts.end()) return 0;
  if (text && size > 0) {
    size_t n = std::min(size - 1, it->second.size());
    std::memcpy(text, it->second.data(), n);
    text[n] = '\0';
  }
  return 1;
}

void TarkoSubSetErrMsgHandler(TarkoErrMsgHandler handler, void* context) {
  g_context.store(context);
  g_handler.store(handler);
}
