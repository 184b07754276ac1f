// Host classes of TarkoSub.so that the driver uses for its configuration file and errors.
#pragma once

#include <cstdint>

#include "fw/cstring.h"
#include "fw/object.h"
#include "tarko/export.h"

// The header every configuration file of the host starts with: a type and a description.
// Stored as the type (32-bit integer) followed by the description (string). Reading it back
// throws the archive's exception when the stored type differs from the constructed one, so a
// file of another kind is refused.
class TARKO_API CTarkoHeader : public CObject {
 public:
  explicit CTarkoHeader(int32_t type);
  ~CTarkoHeader() override;
  void SetDesc(const char* description);
  int32_t GetType() const;
  const CString& GetDesc() const;
  void Serialize(CArchive& ar) override;

 private:
  int32_t type_;
  CString desc_;
};

// The host's error box.
class TARKO_API CTarkoError {
 public:
  // Shows the message that belongs to `code`; `text` fills it where the message has a place
  // for one (a file path for 2002 and 2005, null for the driver's own 2700 to 2703).
  // The driver always passes exactly three arguments; the result is not used.
  static int32_t ErrMsg(int32_t code, int32_t mode, const char* text, ...);

  // Where the messages appear. A window that is up installs its own box for as long as it runs
  // and then puts back the one it found; with none installed they go to standard error.
  // `host_text` is the host's own text for `code` (2002, 2005), or null for a code of the
  // driver's string table, which the window's module looks up itself.
  typedef void (*BoxFn)(int32_t code, int32_t mode, const char* text, const char* host_text,
                        void* context);
  struct Box {
    BoxFn show = nullptr;
    void* context = nullptr;
  };
  // Installs `box` (a null `show` restores standard error); returns the one installed before.
  static Box SetBox(Box box);
};
