#include "comm/comm_engine.h"

#include <memory>

#include "config/doc.h"

void CommEngineDeleter::operator()(CCommEngine* engine) const {
  std::unique_ptr<CCommEngine> owned(engine);
}
