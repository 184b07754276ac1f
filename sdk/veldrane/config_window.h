// VeldraneWindow.so: the driver's configuration window, a module of its own beside Veldrane.so so
// that nothing which runs without a window needs the toolkit. Veldrane.so loads it on demand
// (DrvConfigure) from the folder that holds Veldrane.so itself and hands it one configuration
// through the Document interface below; the module never sees the driver's classes.
//
// ABI conventions:
//  - Two exports: kWindowEntryName, of type RunWindowFn, and kShowErrorName, of type ShowErrorFn.
//  Both modules are built from one tree
//    with one compiler and share the C++ standard library, so the interface is plain C++.
//  - Texts are code page 949 bytes in std::string; the module converts them where it shows them.
//    File names and paths (the title) are the system's own (UTF-8 here), not code page 949.
//  - Everything runs on the thread that called DrvConfigure. No exception leaves the entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tarko/export.h"

namespace veldrane::window {

inline constexpr const char* kWindowModuleName = "VeldraneWindow" TARKO_MODULE_SUFFIX;
inline constexpr const char* kWindowEntryName = "VeldraneRunWindow";
inline constexpr const char* kShowErrorName = "VeldraneShowError";

// The six configured fields of one station.
struct StationFields {
  std::string name;
  std::string description;
  uint32_t decimals = 0;
  int32_t number = 0;
  int32_t kind = 0;
  std::string tag;
};

// The port settings, as the indexes of the port page's choices (-1: nothing chosen).
struct PortFields {
  int32_t port_index = 0;
  int32_t baud_index = 5;
  int32_t parity_index = 0;
  int32_t data_bits = 1;
  int32_t stop_bits = 0;
  uint32_t option_flags = 0;
};

// A station of the document, by identity; null stands for none.
using StationId = const void*;

// The configuration being edited.
class Document {
 public:
  virtual ~Document() = default;

  // The configuration file's name without folder and extension, in the system's encoding of
  // file names.
  virtual std::string Title() const = 0;

  virtual PortFields GetPort() const = 0;
  virtual void SetPort(const PortFields& port) = 0;

  // The stations in list order.
  virtual std::vector<StationId> Stations() const = 0;
  virtual StationFields GetStation(StationId station) const = 0;
  // "NAME (N국) : TAG" as the tree shows it.
  virtual std::string Label(StationId station) const = 0;
  // Copies the fields back into `station` (the tag trimmed at both ends), or into a new station
  // appended at the end of the list when `station` is null. Returns the station written.
  virtual StationId Apply(StationId station, const StationFields& fields) = 0;
  // Removes the station from the list when it is there.
  virtual void Remove(StationId station) = 0;

  // 0, or the message id of the refusal (2701; 2702 or 2703), leaving `exclude` out.
  virtual int32_t CheckName(const std::string& name, StationId exclude) const = 0;
  virtual int32_t CheckNumber(int32_t number, StationId exclude) const = 0;

  // Station text lines: of one station, or of every station when `station` is null.
  virtual std::string StationLines(StationId station) const = 0;
  // Reads station text lines and merges each accepted one by name; the number accepted.
  virtual int64_t PasteLines(const std::string& text) = 0;

  // Writes the configuration file; false when it could not, which the document's own error box
  // (2005) has shown.
  virtual bool Save() = 0;

  // The host's tag browser: whether there is one, and a browse (nonzero: a tag was chosen and
  // is now in `tag`; 0: `tag` is unchanged).
  virtual bool HasTagBrowser() const = 0;
  virtual int32_t BrowseTag(std::string& tag) = 0;
};

// Runs the configuration window modally on `doc`. Returns the window's result (1 when the save
// steps ran at least once, else 0), or -1 when no window could be opened, with the reason (in
// English) in *reason.
extern "C" typedef int32_t (*RunWindowFn)(Document* doc, std::string* reason);

// Reports CTarkoError::ErrMsg(code, mode, text) while a message box of the module is the host's
// error box, for a failure before any window opens. Returns 0 once reported, or -1 when no box
// could be shown (nothing was reported then), with the reason in *reason.
extern "C" typedef int32_t (*ShowErrorFn)(int32_t code, int32_t mode, const char* text,
                                          std::string* reason);

}  // namespace veldrane::window
