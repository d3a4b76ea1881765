#include "status/TDWStatusMgr.h"

TDWStatusMgr::TDWStatusMgr() = default;
