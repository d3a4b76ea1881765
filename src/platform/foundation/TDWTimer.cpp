#include "platform/foundation/TDWTimer.h"

TDWTimer::~TDWTimer() = default;
