#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"

// One journal for a test program: every fake appends "Who.What(args)" in the
// order the calls happen, so a test reads a whole sequence in one line.
void Journal(std::string entry);
void ClearJournal();
std::vector<std::string> JournalEntries();
// The entries joined by blanks.
std::string JournalText();
// The entries of one object ("SourceFilter", "Graph#1" …), without the prefix.
std::string JournalOf(std::string_view who);
// The entries whose call matches `call` ("AddFilter", "RenderStream" …), with their prefix.
std::string JournalCalls(std::string_view call);

// The name of an interface the window's code asks for ("IBaseFilter" …), or empty.
std::string InterfaceName(const GUID& iid);
