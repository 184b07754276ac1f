// veldrane-cfg ports: the serial devices of the machine, their stable names and the COM ports
// that lead to each, with the link to make for a device that has none.
#pragma once

#include "platform/serial/serial_inventory.h"
#include "tools/cfg/cfg_tool.h"

namespace veldrane::cfg {

int ListPorts(const Streams& s, const platform::InventoryPlaces& places = {});

}  // namespace veldrane::cfg
