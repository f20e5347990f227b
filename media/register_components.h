#pragma once

// Registers TFilterGraph, TFilter and TVideoWindow with the component class
// registry, so a stored layout can create them. Safe to call more than once.
void RegisterMediaComponentClasses();
