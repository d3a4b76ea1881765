#include "status/TDWActivityMonitor.h"

TDWActivityMonitor::TDWActivityMonitor() = default;
