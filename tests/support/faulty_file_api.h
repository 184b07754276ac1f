// The file table (platform/files/file_io.h) with every call scriptable through Faults():
// "open_read", "read", "size", "write", "replace", ... A failed close still closes the file, as the
// system's does.
#pragma once

#include "platform/files/file_io.h"
#include "tests/support/fault_script.h"

namespace veldrane::test {

inline const platform::FileApi& FaultyFileApi() {
  using platform::SystemFileApi;
  static const platform::FileApi api = {
      VELDRANE_FAULTY_CALL(SystemFileApi, open_read),
      VELDRANE_FAULTY_CALL(SystemFileApi, create_new),
      VELDRANE_FAULTY_CALL(SystemFileApi, read),
      VELDRANE_FAULTY_CALL(SystemFileApi, write),
      VELDRANE_FAULTY_CALL(SystemFileApi, sync),
      [](platform::FileHandle f) {
        int r = SystemFileApi().close(f);  // the descriptor goes either way
        return Faults().Hit("close") ? -1 : r;
      },
      VELDRANE_FAULTY_CALL(SystemFileApi, size),
      VELDRANE_FAULTY_CALL(SystemFileApi, set_mode),
      VELDRANE_FAULTY_CALL(SystemFileApi, get_mode),
      VELDRANE_FAULTY_CALL(SystemFileApi, check_writable),
      VELDRANE_FAULTY_CALL(SystemFileApi, replace),
      VELDRANE_FAULTY_CALL(SystemFileApi, remove),
      VELDRANE_FAULTY_CALL(SystemFileApi, sync_dir),
      VELDRANE_FAULTY_CALL(SystemFileApi, info),
      VELDRANE_FAULTY_CALL(SystemFileApi, info_of),
      VELDRANE_FAULTY_CALL(SystemFileApi, read_link),
      VELDRANE_FAULTY_CALL(SystemFileApi, set_owner),
      VELDRANE_FAULTY_CALL(SystemFileApi, try_lock),
      VELDRANE_FAULTY_CALL(SystemFileApi, list_dir),
      VELDRANE_FAULTY_CALL(SystemFileApi, process_exists),
  };
  return api;
}

// The faulty file table, installed for the lifetime of the object.
class FaultyFiles : public InstalledApi<platform::FileApi> {
 public:
  FaultyFiles() : InstalledApi(&platform::SetFileApi, FaultyFileApi()) {}
};

}  // namespace veldrane::test
