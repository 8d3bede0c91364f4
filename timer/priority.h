#pragma once
#include <string>

// Raises this process to the realtime class (high without the privilege) and the calling thread
// to highest priority; returns the class obtained as "realtime", "high (run elevated for
// realtime)" or "normal". The priority is kept afterwards.
std::wstring RaiseMeasurementPriority();
