#pragma once

#include <string>

#include "platform/com/unknown.h"

// The line the event log shows for a graph event code: the text of its row in
// the table, or "Unknow Graph Event ($X)" with the code as unsigned 32-bit hex.
std::string GraphEventText(LONG code);
