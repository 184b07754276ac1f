// One instance of the driver, as the host opens it through the entry table: the document (the
// configuration as stored) and, from the host's open-port request on, the communication engine
// that runs it. The document knows nothing of the engine; the engine reads the document.
#pragma once

#include <cstdint>
#include <memory>

#include "config/doc.h"

namespace veldrane::comm {
class Engine;
}  // namespace veldrane::comm

namespace veldrane {

class DriverInstance {
 public:
  DriverInstance();
  // Stops a running engine before the document goes: its thread reads the stations.
  ~DriverInstance();
  DriverInstance(const DriverInstance&) = delete;
  DriverInstance& operator=(const DriverInstance&) = delete;

  CVeldraneDoc& doc() { return doc_; }
  const CVeldraneDoc& doc() const { return doc_; }

  // Until the host has asked for the port there is no engine, and the operations that reach it
  // answer as for a bad instance index.
  // A new engine for the document's port: 0, or the reporter's result for message 4. A second
  // open stops and releases the previous engine (its thread, client and port) first.
  int32_t OpenPort();
  int32_t ResolveTags();
  int32_t Stop();
  // A station by name (enabled or not), or with a null name the whole engine (nonzero starts).
  void SetActive(const char* name, int32_t state);
  // A station's counters, or with a null name the sums of all and whether any station fails.
  int32_t GetStats(const char* name, int32_t* sent, int32_t* failed, int32_t* third,
                   int32_t* fourth);
  comm::Engine* GetEngine() const { return engine_.get(); }

 private:
  CVeldraneDoc doc_;
  std::unique_ptr<comm::Engine> engine_;  // after the document: destroyed before it
};

}  // namespace veldrane
