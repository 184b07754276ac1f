// CCommEngine: the run-time communication object of one document (written with the engine).
#pragma once

class CVeldraneDoc;

class CCommEngine {
 public:
  explicit CCommEngine(CVeldraneDoc& doc) : doc_(doc) {}

 private:
  [[maybe_unused]] CVeldraneDoc& doc_;
};
